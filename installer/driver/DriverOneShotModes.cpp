#include "common/runtime/Lock.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/ProgramInfo.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/driver/Reporter.h"
#include "installer/driver/StatusReporter.h"
#include "installer/web/WebInterface.h"

#include <tinyxml.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

namespace driver {

namespace {

void printVersion() {
    std::cout << Messages().getMessage("Dizadizezeroz") << " " << program_info::version << " (revision "
              << program_info::revision << ")\n";
}

void printStatus() {
    Messages messages;
    if (Lock::test(0) != 0)
        std::cout << StatusReporter(Reporter::busy, messages.getMessage("status_locked_by_another"));
    else
        std::cout << StatusReporter(Reporter::ok, messages.getMessage("status_not_locked"));
}

void stopRunningInstaller(const Options& options) {
    const int holder = Lock::test(0);
    const char* key = "stop_already_stopped";
    if (holder > 0) {
        const int signal = options.terminate ? SIGTERM : SIGHUP;
        if (kill(holder, signal) != 0)
            throw error(error::system, 1, 1, 2)
                << "Unable to send the signal " << signal << " to the process " << holder << ": "
                << std::strerror(errno);
        key = "stop_sent";
    }
    std::cout << Messages().getMessage(key) << "\n";
}

// The launched back end gets the proxy password in its environment, not on its command line.
void launchDetachedBackEnd(const Options& options) {
    const bool handOverPassword = !options.proxyPassword.empty();
    if (handOverPassword)
        util::set_env(Options::handedOverProxyPasswordVariable, options.proxyPassword);
    try {
        exec::run_detached(options.webLaunchCommand(), nullptr);
    } catch (...) {
        util::unset_env(Options::handedOverProxyPasswordVariable);
        throw;
    }
    if (handOverPassword)
        util::unset_env(Options::handedOverProxyPasswordVariable);
}

void launchWebWizardService(const Options& options) {
    Messages messages;
    if (Lock::test(0) != 0) {
        std::cout << StatusReporter(Reporter::busy, messages.getMessage("status_busy"));
        return;
    }
    WebInterface::generateSecret();
    launchDetachedBackEnd(options);
    util::sleep_seconds(1);
    const std::string secret = util::get_env(WebInterface::secretVariable);
    const std::string& launched = messages.getMessage("status_daemon_launched");
    if (Options::enableXmlOutput) {
        TiXmlElement data("data");
        data.SetAttribute("secret", secret);
        Reporter(Reporter::ok, launched, "").printXml(std::cout, &data);
    } else {
        std::cout << launched << "\nSecret: " << secret;
        std::cout.flush();
    }
}

} // namespace

void serveOneShotMode(Options& options) {
    switch (options.runMode) {
    case Options::mode_service:
        launchWebWizardService(options);
        break;
    case Options::mode_version:
        printVersion();
        break;
    case Options::mode_help_options:
        Options::printUsage();
        break;
    case Options::mode_command_help:
        options.printCommandHelp();
        break;
    case Options::mode_command_list:
        Options::printCommands();
        break;
    case Options::mode_query_status:
        printStatus();
        break;
    case Options::mode_stop:
        stopRunningInstaller(options);
        break;
    default:
        throw error(error::internal, 1, 1, 3) << Messages().getMessage("err_undef_wmode");
    }
    std::cout.flush();
    exitWithSuccess();
}

} // namespace driver
