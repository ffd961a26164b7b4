#include "common/runtime/exec.h"

#include "common/runtime/ChildExec.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/POpen.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace {

const int exec_failed_code = 251;

const char* const cgroup_root = "/sys/fs/cgroup/systemd";
const char* const cgroup_tasks[] = {
    "/sys/fs/cgroup/systemd/user/root/tasks",
    "/sys/fs/cgroup/systemd/system.slice/tasks",
    "/sys/fs/cgroup/cpu/tasks",
    "/sys/fs/cgroup/cpuacct/tasks",
};
const int cgroup_count = sizeof cgroup_tasks / sizeof cgroup_tasks[0];
const int cgroups_present = 1 << cgroup_count;

// Async-signal-safe, for a child between fork and exec. Returns cgroups_present when there was
// something to leave, with bit i set when the i-th tasks file could not take the process.
int leaveCgroups() noexcept {
    struct stat info;
    if (stat(cgroup_root, &info) != 0 || !S_ISDIR(info.st_mode))
        return 0;
    int result = cgroups_present;
    for (int i = 0; i < cgroup_count; ++i) {
        const int fd = open(cgroup_tasks[i], O_WRONLY | O_TRUNC | O_CLOEXEC);
        bool moved = false;
        if (fd != -1) {
            moved = write(fd, "0\n", 2) == 2;
            if (close(fd) != 0)
                moved = false;
        }
        if (!moved)
            result |= 1 << i;
    }
    return result;
}

void logCgroupResult(int result) {
    if (!(result & cgroups_present))
        return;
    Log::stream(3, true) << "DEBUG: detaching from current cgroups (systemd, cpu, cpuacct)";
    for (int i = 0; i < cgroup_count; ++i)
        if (result & (1 << i))
            Log::stream(2, true) << "Warning: Failed to attach to cgroup " << cgroup_tasks[i]
                                 << ", installer might be unexpectedly killed later by the system";
}

std::string withCommand(const std::string& text, const std::string& command) {
    return text + Messages().format("err_exec_cmd", command);
}

error execError(int e_class, int repeat, int state, int support, const char* key,
                const std::string& command) {
    return error(e_class, repeat, state, support) << withCommand(Messages().getMessage(key), command);
}

// The detached program's standard input: an anonymous in-memory file holding the whole input, so
// that a program that never reads it cannot hold us up, and a failed write is ours to report.
int inputFile(const std::string& data, const std::string& command) {
    int fd = memfd_create("moxel-detached-input", MFD_CLOEXEC);
    if (fd != -1 && fd <= 2) {
        // Kept off the standard descriptors, which the child sets up from this and /dev/null.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fd = moved;
    }
    if (fd == -1)
        throw execError(4, 1, 0, 2, "err_exec_pipefail", command);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int saved = written < 0 ? errno : EIO;
            ChildExec::closeFd(fd);
            Log::stream(1, true) << "Can't store the input of a background command: " << strerror(saved);
            throw execError(4, 1, 0, 2, "err_exec_pipefail", command);
        }
        done += static_cast<size_t>(written);
    }
    if (lseek(fd, 0, SEEK_SET) != 0) {
        ChildExec::closeFd(fd);
        throw execError(4, 1, 0, 2, "err_exec_pipefail", command);
    }
    return fd;
}

} // namespace

namespace exec {

int run_command(const std::string& command, bool echo, bool check, std::ostream* output,
                std::ostream* errors) {
    std::istringstream no_input;
    // Without a buffer the stream takes and drops everything, however much a command prints.
    std::ostream discarded(nullptr);
    std::unique_ptr<POpen> child =
        POpen::start(command, &no_input, output ? output : &discarded, errors ? errors : &discarded);
    child->cancellable = true;
    // A failure to run or watch the command is never taken for its success, whatever `check` says.
    const int status = child->wait(echo);
    Progress::checkTermination();
    if (status == -1)
        throw error(4, 2, 0, 2) << withCommand("Lost track of the external command: waitpid() failed.",
                                               command);

    const int low_bits = status & 0x7f;
    if (low_bits != 0 && low_bits != 0x7f) {
        const std::string text = Messages().getMessage("err_exec_signal");
        Log::stream(1, true) << text << " (" << low_bits << ")";
        throw error(4, 2, 0, 2) << withCommand(text, command);
    }
    if (low_bits == 0x7f)
        Log::stream(3, true) << "DEBUG: child exit status is " << status
                             << ", but I expected WIFEXITED(status)";
    const int code = (status >> 8) & 0xff;
    if (code == exec_failed_code)
        throw execError(4, 1, 0, 3, "err_exec_execfail", command);
    if (check && code == 127)
        throw error(4, 1, 0, 3) << withCommand(
            Messages().format("err_exec_cmd_not_found", command_name(command)), command);
    if (check && code != 0)
        throw error(0, 0, 0, 0) << withCommand(
            Messages().format("err_exec_non_zero", command_name(command), std::to_string(code)), command);
    child.reset();
    return code;
}

std::vector<std::string> get_output_lines(const std::string& command, const std::string& arguments) {
    const std::string line = arguments.empty() ? command : command + " " + arguments;
    Log::stream(3, true) << "Get output from command '" << line << "'";

    auto cannotExecute = [&line](int saved) {
        Log::stream(2, true) << "popen() error: " << strerror(saved);
        return error(4, 2, 2, 2) << "Can't execute '" << command_name(line) << "'";
    };
    ChildExec::ignoreSigpipe();
    ChildExec shell(line, "sh", false);
    int out[2];
    if (ChildExec::createPipe(out) != 0)
        throw cannotExecute(errno);
    if (!shell.openChannel()) {
        const int saved = errno;
        ChildExec::closeFd(out[0]);
        ChildExec::closeFd(out[1]);
        throw cannotExecute(saved);
    }
    const pid_t pid = fork();
    if (pid == -1) {
        const int saved = errno;
        ChildExec::closeFd(out[0]);
        ChildExec::closeFd(out[1]);
        throw cannotExecute(saved);
    }
    if (pid == 0) {
        if (ChildExec::moveTo(out[1], 1))
            shell.execShell();
        _exit(127);
    }
    ChildExec::closeFd(out[1]);
    shell.collect();

    FILE* stream = fdopen(out[0], "r");
    if (!stream) {
        const int saved = errno;
        ChildExec::closeFd(out[0]);
        ChildExec::waitFor(pid);
        throw cannotExecute(saved);
    }
    std::vector<std::string> lines;
    char* buffer = nullptr;
    size_t size = 0;
    while (getline(&buffer, &size, stream) != -1) {
        util::trim(buffer);
        lines.emplace_back(buffer);
    }
    free(buffer);
    fclose(stream);
    const int status = ChildExec::waitFor(pid);
    if (status != 0) {
        if (status == -1)
            Log::stream(2, true) << "pclose() error: " << strerror(errno);
        Log::stream(3, true) << "Execution of '" << command_name(line)
                             << "' via popen() failed - pclose() returned " << status;
        throw error(4, 2, 2, 2) << "Error in execution of '" << command_name(line) << "'";
    }
    return lines;
}

std::string get_output(const std::string& command, const std::string& arguments) {
    const std::vector<std::string> lines = get_output_lines(command, arguments);
    if (lines.empty())
        throw error(0, 0, 0, 0) << withCommand(Messages().format("err_empty_output", command_name(command)),
                                               command);
    return lines.front();
}

void run_detached(const std::string& command, const std::string* input) {
    Log::stream(2, true) << "Execute command " << command;
    ChildExec::ignoreSigpipe();

    int data = input ? inputFile(*input, command) : -1;
    // Opened here so that a failure is reported by us rather than lost in a child.
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd == -1) {
        ChildExec::closeFd(data);
        throw error(4, 1, 0, 2) << "Unable to read from '/dev/null'";
    }
    ChildExec shell(command, "/bin/sh", false);
    if (!shell.openChannel()) {
        ChildExec::closeFd(data);
        ChildExec::closeFd(null_fd);
        throw execError(4, 1, 0, 2, "err_exec_pipefail", command);
    }

    const pid_t pid = fork();
    if (pid == -1) {
        const int saved = errno;
        ChildExec::closeFd(data);
        ChildExec::closeFd(null_fd);
        Log::stream(1, true) << Messages().getMessage("err_exec_forkfail") << " (" << strerror(saved) << ").";
        throw execError(4, 1, 0, 2, "err_exec_forkfail", command);
    }
    if (pid == 0) {
        if (!ChildExec::moveTo(null_fd, 1) || !ChildExec::moveTo(null_fd, 2) ||
            (input && !ChildExec::moveTo(data, 0))) {
            shell.report('E', errno);
            _exit(0);
        }
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            shell.report('C', leaveCgroups());
            shell.execShell();
            _exit(exec_failed_code);
        }
        if (grandchild == -1)
            shell.report('F', errno);
        _exit(0);
    }

    ChildExec::closeFd(null_fd);
    ChildExec::closeFd(data);
    ChildExec::waitFor(pid);
    for (const auto& report : shell.collect()) {
        if (report.first == 'C') {
            logCgroupResult(report.second);
        } else if (report.first == 'F') {
            Log::stream(1, true) << Messages().getMessage("err_exec_forkfail") << " ("
                                 << strerror(report.second) << ").";
            throw execError(4, 1, 0, 2, "err_exec_forkfail", command);
        } else if (report.first == 'E') {
            Log::stream(1, true) << Messages().getMessage("err_exec_execfail") << " ("
                                 << strerror(report.second) << ")";
        }
    }
}

void detach_from_cgroups() {
    logCgroupResult(leaveCgroups());
}

std::string command_name(const std::string& command) {
    std::string word;
    auto qualifies = [](const std::string& w) {
        return w != "env" && w != "sh" && w.find('=') == std::string::npos;
    };
    for (size_t at = 0; at <= command.size(); ++at) {
        if (at < command.size() && command[at] != ' ') {
            word += command[at];
            continue;
        }
        if (!word.empty() && qualifies(word))
            return word;
        word.clear();
    }
    return command;
}

} // namespace exec
