#pragma once

// Shared pieces of the package tests: packages and dependencies as they print, and real .deb and
// .rpm files built for a test.

#include "common/packages/Dependency.h"
#include "common/packages/Package.h"
#include "common/runtime/util.h"

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace packagetest {

// A package as it prints, e.g. "lib-2.0-1.x86_64".
inline std::string print(const Package* package) {
    std::ostringstream out;
    package->print(out);
    return out.str();
}

template <typename PackagePointer>
std::vector<std::string> print(const std::vector<PackagePointer>& packages) {
    std::vector<std::string> texts;
    for (const Package* package : packages)
        texts.push_back(print(package));
    return texts;
}

// Each dependency as it prints.
inline std::vector<std::string> texts(const Package::dependencies_t& entries) {
    std::vector<std::string> result;
    for (const auto& entry : entries) {
        std::ostringstream out;
        out << *entry;
        result.push_back(out.str());
    }
    return result;
}

inline int run(const std::string& command) {
    return system(command.c_str());
}

// Builds the binary packages of a spec file below the build tree `top`; they land in top/RPMS/<arch>/.
inline int rpmbuild(const std::string& top, const std::string& spec) {
    return run("rpmbuild --quiet --define " + util::shell_quote("_topdir " + top) + " --define " +
               util::shell_quote("_tmppath " + top + "/tmp") + " -bb " + util::shell_quote(spec) +
               " >/dev/null 2>&1");
}

// Packs a directory tree that holds DEBIAN/control into a .deb owned by root.
inline int debBuild(const std::string& root, const std::string& deb) {
    return run("dpkg-deb --root-owner-group --build " + util::shell_quote(root) + " " +
               util::shell_quote(deb) + " >/dev/null");
}

// A package kept in `owned`, so that it outlives every repository that lists it; it provides itself
// ("name = version"), as rpm makes every package do.
inline Package* makePackage(std::vector<std::unique_ptr<Package>>& owned, const std::string& name,
                            const std::string& version, Package::type_t type, const std::string& arch) {
    owned.push_back(std::make_unique<Package>(name, version));
    Package* package = owned.back().get();
    package->setType(type);
    package->setArch(arch);
    package->addProvide(package->getSelfProvide());
    return package;
}

} // namespace packagetest
