#include "common/runtime/Log.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/fileops.h"
#include "common/runtime/util.h"
#include "installer/driver/Driver.h"
#include "installer/driver/Options.h"
#include "installer/sources/Downloader.h"

#include <sys/stat.h>
#include <unistd.h>

namespace driver {

namespace {

const char* const log_directory = "/var/log/moxel/install";

// What earlier calls of setProxyEnvironment handed on, so that a later call undoes exactly that.
struct ProxyState {
    bool proxyHanded = false;
    bool credentialsHanded = false;
    bool variablesExported = false;
};

ProxyState& proxyState() {
    static ProxyState state;
    return state;
}

std::string logFileName(const Options& options, std::time_t start) {
    if (!options.separateLogs)
        return "dizadizezeroz3.log";
    struct tm local;
    localtime_r(&start, &local);
    char name[64];
    strftime(name, sizeof(name), "dizadizezeroz3_%F_%H%M.log", &local);
    return name;
}

} // namespace

void initLogFile(std::time_t start) {
    if (!Log::get_file_name().empty())
        return;
    const Options* options = builtSettings();
    if (!options || options->isCompletionRequested())
        return;
    if (!fileops::is_directory(log_directory)) {
        fileops::create_directory(log_directory);
        if (!fileops::is_directory(log_directory))
            throw error(error::user, 1, 1, 3) << "Unable to create directory: " << log_directory;
    }
    chmod(log_directory, 0700);
    Log::open_file(std::string(log_directory) + "/" + logFileName(*options, start), options->truncateLog);
}

void setProxyEnvironment(const std::string& host, int port, const std::string& user,
                         const std::string& password) {
    ProxyState& state = proxyState();
    if (!host.empty()) {
        Downloader::setProxy(host, port);
        state.proxyHanded = true;
        const std::string proxy = host + ":" + std::to_string(port);
        // A proxy that the caller's environment names already is left alone.
        if (state.variablesExported ||
            (util::get_env("FTP_PROXY").empty() && util::get_env("HTTP_PROXY").empty())) {
            util::set_env("FTP_PROXY", proxy);
            util::set_env("HTTP_PROXY", proxy);
            state.variablesExported = true;
        }
        if (!user.empty()) {
            Downloader::setProxyAuth(user, password);
            state.credentialsHanded = true;
        } else if (state.credentialsHanded) {
            Downloader::setProxyAuth("", "");
            state.credentialsHanded = false;
        }
        return;
    }
    if (!state.proxyHanded && !state.credentialsHanded)
        return;
    if (state.variablesExported) {
        util::unset_env("FTP_PROXY");
        util::unset_env("HTTP_PROXY");
        state.variablesExported = false;
    }
    Downloader::setProxyAuth("", "");
    Downloader::setProxy("", 0);
    state.proxyHanded = false;
    state.credentialsHanded = false;
}

void onSignal(int signal) {
    Progress::setTermination(signal);
}

void logSelinuxMode() {
    for (const char* tool : {"/usr/bin/getenforce", "/usr/sbin/getenforce"}) {
        if (access(tool, F_OK) != 0)
            continue;
        // Runs while a failure is being reported: it must not raise a failure of its own.
        try {
            exec::run_command(tool, false, false, nullptr, nullptr);
        } catch (const error& e) {
            Log::stream(3, true) << "DEBUG: " << tool << " failed: " << e.getText();
        }
        return;
    }
}

} // namespace driver
