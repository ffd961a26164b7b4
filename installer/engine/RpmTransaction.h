#pragma once

#include <list>
#include <string>

class Package;
struct rpmts_s;

// One rpm transaction through librpm: packages to install or upgrade from their files and installed
// packages to erase, checked, ordered and run below a root directory.
class RpmTransaction {
public:
    // Raises err_no_librpm when librpm cannot make a transaction.
    explicit RpmTransaction(const std::string& root);
    RpmTransaction(const RpmTransaction&) = delete;
    RpmTransaction& operator=(const RpmTransaction&) = delete;
    ~RpmTransaction();

    // Installs the package's file, replacing older versions of it.
    void install(const Package& package);
    // Every installed package of the name; none is not an error.
    void erase(const std::string& name);
    // Checks the dependencies, then runs. A failure names the packages and rpm's problems.
    void run(const std::string& packages);

    // What rpmtsRun answered (-1 before it ran) and what rpm said, for the error report.
    int getResult() const { return result; }
    const std::string& getOutput() const { return output; }

private:
    // rpm's problems, one per line, no line end after the last; empty when there are none.
    std::string problems() const;

    rpmts_s* ts;
    // The transaction keys: the package files, which rpm opens while it runs.
    std::list<std::string> files;
    int result = -1;
    std::string output;
};
