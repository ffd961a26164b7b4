#include "installer/driver/Driver.h"

#include "common/packages/PkgManager.h"
#include "common/runtime/ChildExec.h"
#include "common/runtime/Lock.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/ProgramInfo.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/driver/CommandLineMode.h"
#include "installer/driver/ConsoleWizard.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/driver/Reporter.h"
#include "installer/driver/SystemExit.h"
#include "installer/driver/WebBackend.h"
#include "installer/patches/SelfUpgrade.h"
#include "installer/sources/http_error.h"

#include <boost/program_options/errors.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <typeinfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver {

namespace {

const Options* settings = nullptr;

void printRecord(const Reporter& record) {
    std::cout << record;
}

// The record of a failure; logged unless it was logged where it arose.
void printFailure(const error& e, bool withClass) {
    if (!e.hasFlag(error::flag_report_logged))
        Log::stream(1, true) << "Error: " << e.getReport();
    const std::string className = withClass ? e.getClassName() : std::string();
    printRecord(Reporter(Reporter::failed, e.getReport(), className.c_str()));
}

[[noreturn]] void reportBusy(const Options& options) {
    const std::string& text = Messages().getMessage("status_locked_by_another");
    Log::stream(1, true) << text;
    if (options.command == Options::cmd_show_releases)
        printRecord(Reporter(Reporter::failed, "Installer is busy."));
    else
        printRecord(Reporter(Reporter::busy, text, ""));
    exitWithError();
}

void logBanner(std::time_t start, int argc, char** argv) {
    tzset();
    struct tm local;
    localtime_r(&start, &local);
    char started[64];
    asctime_r(&local, started);
    Log::stream(1, true) << "\n\n"
                         << Messages().getMessage("Dizadizezeroz") << " " << program_info::version
                         << " (revision " << program_info::revision << ") started at (timezone " << tzname[0]
                         << ") " << started << "Command line arguments: " << maskedArguments(argc, argv)
                         << "\n";
}

Options& buildSettings() {
    try {
        settings = &Options::instance();
        return Options::instance();
    } catch (...) {
        // A default record stands in for the one that failed.
        settings = &Options::instance();
        throw;
    }
}

bool isOneShotMode(int mode) {
    return mode == Options::mode_service || mode == Options::mode_version ||
           mode == Options::mode_help_options || mode == Options::mode_command_help ||
           mode == Options::mode_command_list || mode == Options::mode_query_status ||
           mode == Options::mode_stop;
}

// Settings, the bare version, the log file and the one-shot modes.
Options& prepare(std::time_t start) {
    try {
        Options& options = buildSettings();
        if (options.runMode == Options::mode_bare_version) {
            std::cout << program_info::version << "\n";
            exitWithSuccess();
        }
        initLogFile(start);
        if (options.debug) {
            Log::stream(2, true) << "Debug mode is switched on: All output will be written to the log file.";
            Log::setFileThreshold(3);
        }
        if (!options.disableSelfUpgrade)
            SelfUpgrade::switch_to_cached_binary();
        if (isOneShotMode(options.runMode))
            serveOneShotMode(options);
        return options;
    } catch (const error& e) {
        printFailure(e, true);
        exitWithError();
    } catch (const boost::program_options::error& e) {
        Log::stream(1, true) << "Options parsing error: " << e.what();
        const std::string command = Options::savedArgc() > 1 ? Options::savedArgv()[1] : "";
        printRecord(Reporter(Reporter::failed,
                             std::string(e.what()) + "\n" + Messages().format("err_opt_parse_add", command),
                             ""));
        exitWithError();
    }
}

void refuseWhenBusy(const Options& options) {
    int holder = 0;
    try {
        holder = Lock::test(0);
    } catch (error& e) {
        e.addLine(error::system, 1, 1, 2) << Messages().getMessage("err_chk_exclusive");
        printFailure(e, false);
        exitWithError();
    }
    if (holder != 0)
        reportBusy(options);
}

void closeFd(int& fd) {
    if (fd != -1)
        ::close(fd);
    fd = -1;
}

// The background child takes the instance lock before the caller is answered, so that a second
// installation started at the same moment cannot be told "started" and then die unseen. The calling
// process never returns; the child returns holding the lock.
std::unique_ptr<Lock> handOffToBackground(const Options& options) {
    int answer_pipe[2] = {-1, -1};
    if (pipe2(answer_pipe, O_CLOEXEC) != 0)
        throw error(error::system, 1, 1, 2) << "Unable to create a pipe: " << std::strerror(errno);
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = fork();
    if (child == -1) {
        const int saved = errno;
        closeFd(answer_pipe[0]);
        closeFd(answer_pipe[1]);
        throw error(error::system, 1, 1, 2)
            << "Unable to start the background installation: " << std::strerror(saved);
    }
    if (child == 0) {
        closeFd(answer_pipe[0]);
        setsid();
        if (chdir("/") != 0)
            _exit(1);
        const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null_fd == -1 || dup2(null_fd, 0) == -1 || dup2(null_fd, 1) == -1 || dup2(null_fd, 2) == -1)
            _exit(1);
        ::close(null_fd);
        std::unique_ptr<Lock> lock;
        try {
            lock = std::make_unique<Lock>(0, false);
        } catch (const error&) {
        }
        const char answer = lock ? 'L' : 'B';
        (void)!::write(answer_pipe[1], &answer, 1);
        closeFd(answer_pipe[1]);
        // The caller reports the busy installer; this copy has nothing left to do.
        if (!lock)
            _exit(0);
        return lock;
    }

    closeFd(answer_pipe[1]);
    char answer = 0;
    ssize_t got;
    while ((got = ::read(answer_pipe[0], &answer, 1)) == -1 && errno == EINTR) {
    }
    closeFd(answer_pipe[0]);
    if (got == 1 && answer == 'L') {
        printRecord(Reporter(Reporter::ok, "Installation started"));
        Log::stream(2, true)
            << "Installer was successfully started. The packages are being installed in the background mode.";
        SystemExit::raise(0);
    }
    if (got == 1 && answer == 'B')
        reportBusy(options);
    throw error(error::system, 1, 1, 2) << "The background installation ended before it could start.";
}

std::unique_ptr<Lock> moveToBackgroundIfAsked(const Options& options) {
    if (!options.runInBackground())
        return nullptr;
    try {
        return handOffToBackground(options);
    } catch (const error& e) {
        printFailure(e, true);
        exitWithError();
    }
}

// The command-line mode marks the shared progress record failed for every way it fails.
void runCommandLineMode(const Options& options) {
    try {
        runCommandLine(options);
    } catch (const error& e) {
        ReportError::sendFailure(e);
        Progress::fail(e.getReport());
        throw;
    } catch (const SystemExit&) {
        throw;
    } catch (const Progress::Interrupted&) {
        throw;
    } catch (...) {
        Progress::fail("An unknown internal error has occurred.");
        throw;
    }
}

void installSignalHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGHUP, SIGTERM})
        sigaction(signal, &action, nullptr);
}

void runMode(const Options& options) {
    switch (options.runMode) {
    case Options::mode_console:
        Log::setConsoleMode(true);
        work_interactive();
        Progress::finish();
        break;
    case Options::mode_command_line:
        runCommandLineMode(options);
        Progress::finish();
        break;
    case Options::mode_web:
        try {
            web_ui();
        } catch (const WebUiTransport::timeout&) {
            Log::stream(0, true) << Messages().getMessage("webinterface_exit_by_timeout");
        }
        break;
    case Options::mode_mirror:
        Log::stream(0, true) << Messages().getMessage("mirroring_mode_is_deprecated");
        runMirror(options);
        break;
    default:
        throw error(error::internal, 1, 1, 3) << Messages().getMessage("err_undef_wmode");
    }
}

bool isDefaultServerNotFound(const error& e) {
    const http_error* failed = dynamic_cast<const http_error*>(&e);
    return failed && failed->getCode() == 404 && failed->getUrl().rfind(Options::defaultSource, 0) == 0;
}

[[noreturn]] void failWith(const std::string& message) {
    Log::stream(1, true) << message;
    printRecord(Reporter(Reporter::failed, message.c_str()));
    exitWithError();
}

// The lock is held while the mode runs and released before a handler runs.
[[noreturn]] void runHoldingTheLock(const Options& options, std::unique_ptr<Lock> backgroundLock,
                                    std::time_t start) {
    try {
        std::unique_ptr<Lock> lock = std::move(backgroundLock);
        if (!lock)
            lock = std::make_unique<Lock>(0, false);
        initLogFile(start);
        setProxyEnvironment(options.proxyHost, options.proxyPort, options.proxyUser, options.proxyPassword);
        installSignalHandlers();
        runMode(options);
        printRecord(Reporter(Reporter::ok, ""));
        exitWithSuccess();
    } catch (error& e) {
        logSelinuxMode();
        if (isDefaultServerNotFound(e))
            e.setSupport(3);
        printFailure(e, true);
        exitWithError();
    } catch (const tinybind::err& e) {
        Log::stream(1, true) << "An error occurred while parsing XML data: " << e.text;
        printRecord(Reporter(Reporter::failed, e.text, ""));
        exitWithError();
    } catch (const PkgManager::unhappy&) {
        printRecord(Reporter(Reporter::failed, "Unexpected 'unhappy' exception caught"));
        exitWithError();
    } catch (const SelfUpgrade::NeedSelfUpgrade&) {
        printRecord(Reporter(Reporter::failed, "Unexpected 'NeedSelfUpgrade' exception caught"));
        exitWithError();
    } catch (const std::exception& e) {
        logSelinuxMode();
        std::string type = typeid(e).name();
        if (!type.empty() && type[0] == '*')
            type.erase(0, 1);
        failWith("Unexpected '" + type + "' caught: " + e.what());
    } catch (const SystemExit&) {
        throw;
    } catch (const Progress::Interrupted&) {
        throw;
    } catch (...) {
        logSelinuxMode();
        failWith("Unexpected exception caught");
    }
}

} // namespace

const Options* builtSettings() {
    return settings;
}

int exitCodeOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const SystemExit& exit) {
        return exit.code;
    } catch (const Progress::Interrupted&) {
        const std::string& text = Messages().getMessage("user_canceled");
        Log::stream(1, true) << "Error: " << text;
        printRecord(Reporter(Reporter::failed, text, "user"));
        return 2;
    } catch (...) {
        const char* const text = "Internal error: unexpected exception caught";
        Log::stream(1, true) << text;
        printRecord(Reporter(Reporter::failed, text));
        return 1;
    }
    return 0;
}

void run(int argc, char** argv) {
    ChildExec::ignoreSigpipe();
    util::set_env("DIZADIZEZEROZ_VERSION", program_info::version);
    Options::saveArguments(argc, argv);
    ReportError::set_ai_version(program_info::version, program_info::revision);
    const std::time_t start = std::time(nullptr);
    logBanner(start, argc, argv);
    umask(022);
    if (getuid() != 0 || geteuid() != 0) {
        Log::stream(0, true) << Messages().getMessage("err_not_root");
        exitWithError();
    }

    Options& options = prepare(start);
    refuseWhenBusy(options);
    std::unique_ptr<Lock> backgroundLock = moveToBackgroundIfAsked(options);
    exec::detach_from_cgroups();
    runHoldingTheLock(options, std::move(backgroundLock), start);
}

std::string maskedArguments(int argc, char** argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        switch (Options::proxyPasswordArgument(argument)) {
        case Options::password_attached:
            text += argument.substr(0, argument.find('=') + 1) + "******** ";
            break;
        case Options::password_follows:
            text += argument + " ";
            if (i + 1 < argc) {
                text += "******** ";
                ++i;
            }
            break;
        default:
            text += argument + " ";
        }
    }
    return text;
}

} // namespace driver
