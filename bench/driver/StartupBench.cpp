// Wall time of one `installer --version` start, against /bin/true and `apt-get --version` measured
// in the same run; prints the ratios after the benchmark table.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Starts the program with its output on /dev/null and waits for it.
void runOnce(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (failed != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + command[0]);
}

void BM_Start(benchmark::State& state, const std::vector<std::string>& command) {
    for (auto _ : state)
        runOnce(command);
}

BENCHMARK_CAPTURE(BM_Start, installer_version, std::vector<std::string>{MOXEL_INSTALLER, "--version"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Start, bin_true, std::vector<std::string>{"/bin/true"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Start, apt_get_version, std::vector<std::string>{"/usr/bin/apt-get", "--version"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The console table, and the mean wall time of each benchmark for the ratios.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                seconds[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.seconds["BM_Start/installer_version/real_time"];
    const double none = reporter.seconds["BM_Start/bin_true/real_time"];
    const double apt = reporter.seconds["BM_Start/apt_get_version/real_time"];
    if (ours <= 0 || none <= 0 || apt <= 0)
        return 0;
    std::printf(
        "\ninstaller --version %.2f ms: %.2fx /bin/true (%.2f ms), %.2fx apt-get --version (%.2f ms); "
        "%.2f ms over /bin/true\n",
        ours * 1e3, ours / none, none * 1e3, ours / apt, apt * 1e3, (ours - none) * 1e3);
    return 0;
}
