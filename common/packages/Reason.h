#pragma once

#include <boost/shared_ptr.hpp>

#include <memory>
#include <ostream>

class Dependency;
class Package;

// Why the resolver put a package on its black list.
class Reason {
public:
    Reason() = default;
    Reason(const Reason&) = delete;
    Reason& operator=(const Reason&) = delete;
    virtual ~Reason() = default;

    virtual std::ostream& print(std::ostream& out) const = 0;
};

std::ostream& operator<<(std::ostream& out, const Reason& reason);

// A requirement of the package that no usable package satisfies.
class ReasonUnresolved : public Reason {
public:
    explicit ReasonUnresolved(std::shared_ptr<Dependency> dependency) : dependency(std::move(dependency)) {}

    std::ostream& print(std::ostream& out) const override;

    const std::shared_ptr<Dependency>& getDependency() const { return dependency; }

private:
    std::shared_ptr<Dependency> dependency;
};

// Two packages that cannot be installed together. Normally the first is the package the reason
// belongs to; for a conflict met while appending, the first is the package already chosen.
class ReasonClash : public Reason {
public:
    ReasonClash(const Package* first, const Package* second) : first(first), second(second) {}

    std::ostream& print(std::ostream& out) const override;

    const Package* getFirst() const { return first; }
    const Package* getSecond() const { return second; }

private:
    const Package* first;
    const Package* second;
};

using reason_ptr = boost::shared_ptr<Reason>;
