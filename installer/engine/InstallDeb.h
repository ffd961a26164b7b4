#pragma once

#include "installer/engine/Installer.h"

#include <string>

class DebianAPTConfigurator;

// The back end of Debian systems: apt-get settles the plan in a simulation and installs it in one
// run, retried while another process holds dpkg's lock.
class InstallDeb : public Installer {
public:
    static const int lockRetries = 30;
    static const int retryPauseSeconds = 60;

    // Raises err_deb_initobj for any other configurator, err_no_apt without /usr/bin/apt-get.
    InstallDeb(Repository* repository, ComponentManager* componentManager,
               SystemSpecificConfigurator* configurator, StageActions& stages);

    const cpkgs_t& resolveDependencies() override;
    void installPackages(const cpkgs_t& list) override;

    // apt-get with the run's fixed options, ending in a blank.
    std::string makeAptCommand() const;
    // The apt-get words for a package list, each followed by a blank. A name that Debian does not
    // allow raises (1, 1, 1, 2).
    std::string makePackageArguments(const cpkgs_t& list) const;

protected:
    // apt-get downloads during the transaction.
    void download() override {}
    // The wait before another attempt while dpkg's lock is held.
    virtual void pauseBeforeRetry(int seconds);
    // Adds what the simulation installs and removes to the main list.
    void readSimulation(const std::string& output);

private:
    void reportResolveFailure(const error& failure, const std::string& command, int code,
                              const std::string& output) const;
    // Runs the command until it does not fail for dpkg's lock; the last exit code.
    int runWithLockRetries(const std::string& command, std::string& output);

    DebianAPTConfigurator* aptConfigurator;
};
