#pragma once

#include <ctime>
#include <functional>
#include <string>

class Options;

// The spine of the process: the run body every invocation passes through, the exit operations, the
// log file, the proxy environment and the signal handler.
namespace driver {

// Runs `body` and turns how it ends into the process's exit code: driver::SystemExit gives its code,
// a user cancel the "user_canceled" record and 2, anything else an internal-error record and 1.
int exitCodeOf(const std::function<void()>& body);

// Never returns: ends by throwing driver::SystemExit.
[[noreturn]] void run(int argc, char** argv);

// The settings once run() has built them (a default record when building failed); null before.
const Options* builtSettings();

[[noreturn]] void exitWithSuccess();
// In XML-output mode the exit code is 0: the document carries the outcome.
[[noreturn]] void exitWithError();
void waitForEnter();
void sendNotificationMail(bool success);

// Opens the log file once per process.
void initLogFile(std::time_t start);

// Hands the proxy to the downloaders and exports FTP_PROXY and HTTP_PROXY unless the caller's
// environment names a proxy already. The credentials are not exported: the package-manager
// configurators read them from the downloaders' proxy record when they set up their own children.
void setProxyEnvironment(const std::string& host, int port, const std::string& user,
                         const std::string& password);

void onSignal(int signal);
void logSelinuxMode();

// The one-shot modes (version, help, status query, stop, background launch of the web wizard); each
// ends in an exit operation.
[[noreturn]] void serveOneShotMode(Options& options);

// Copies the builds that `mirror-os` names from the network source into the target directory.
void runMirror(const Options& options);

// The saved arguments for the banner, the proxy password masked.
std::string maskedArguments(int argc, char** argv);

} // namespace driver
