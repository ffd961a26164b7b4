// Resolves requested packages against package cache texts, as the installer does, and writes the
// plan for checking. Driven by bench/resolver/run through the environment:
//   MOXEL_BENCH_INSTALLED  cache text of the installed packages
//   MOXEL_BENCH_AVAILABLE  cache text of the packages to choose from
//   MOXEL_BENCH_TYPE       their type letter: "b" (product) or "u" (archive)
//   MOXEL_BENCH_REQUEST    names to install, or "@all" for every available package
//   MOXEL_BENCH_PLAN       where the plan is written
//   MOXEL_BENCH_LOG        the log file
// Packages are never freed in this program's model, so each measurement runs in a process of its
// own with one iteration; the script repeats it.
#include "common/packages/Package.h"
#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string env(const char* name, const char* fallback = "") {
    const char* value = getenv(name);
    return value && *value ? value : fallback;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void load(Repository& repository, const std::string& path, Package::type_t type) {
    FILE* file = fopen(path.c_str(), "re");
    if (!file)
        throw std::runtime_error("cannot open " + path);
    try {
        repository.addFromCache(file, type, Repository::DUPS_APPEND, nullptr);
    } catch (...) {
        fclose(file);
        throw;
    }
    fclose(file);
}

void writePlan(const cpkgs_t& plan, const std::string& path) {
    std::ofstream out(path + ".tmp");
    for (const Package* package : plan) {
        if (isRemoverPackage(package))
            out << "remove " << package->getObsolete(0)->getName() << "\n";
        else if (package->getType() != 's')
            out << "install " << package->getName() << " " << package->getVersion() << " "
                << package->getArch() << "\n";
    }
    out.close();
    if (!out || rename((path + ".tmp").c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
}

void BM_Resolve(benchmark::State& state) {
    const std::string request = env("MOXEL_BENCH_REQUEST");
    const Package::type_t type = env("MOXEL_BENCH_TYPE", "u")[0];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Repository repository;
        load(repository, env("MOXEL_BENCH_INSTALLED"), 's');
        const size_t installed = repository.getPackages().size();
        load(repository, env("MOXEL_BENCH_AVAILABLE"), type);
        const double loaded = seconds(start);

        const auto linkStart = std::chrono::steady_clock::now();
        repository.resolveRequires();
        const double linked = seconds(linkStart);

        cpkgs_t necessary;
        if (request == "@all") {
            auto packages = repository.getPackages();
            for (size_t i = installed; i < packages.size(); ++i)
                necessary.push_back(packages[i]);
        } else {
            std::istringstream names(request);
            for (std::string name; names >> name;) {
                const Package* found =
                    repository.findLatestIf(name, [](const Package* p) { return p->getType() != 's'; });
                if (!found)
                    throw std::runtime_error("no package " + name);
                necessary.push_back(found);
            }
        }

        const auto resolveStart = std::chrono::steady_clock::now();
        PkgManager manager(&repository, &necessary, true);
        manager.setOsArch(env("MOXEL_BENCH_ARCH", "amd64"));
        manager.blackListUnresolved();
        manager.findNecessaryPackages(false);
        PkgManager::Statistics statistics;
        manager.getStatistics(statistics);
        const double resolved = seconds(resolveStart);

        state.counters["load_s"] = loaded;
        state.counters["link_s"] = linked;
        state.counters["resolve_s"] = resolved;
        state.counters["packages"] = static_cast<double>(repository.getPackages().size());
        state.counters["plan"] = static_cast<double>(necessary.size());
        state.counters["installs"] = statistics.totalInstall;
        state.counters["upgrades"] = statistics.totalUpgrade;
        state.counters["removals"] = statistics.totalRemove;
        state.counters["black"] = static_cast<double>(manager.getBlackList().size());
        if (!env("MOXEL_BENCH_PLAN").empty())
            writePlan(necessary, env("MOXEL_BENCH_PLAN"));
    }
}

BENCHMARK(BM_Resolve)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    Log::open_file(env("MOXEL_BENCH_LOG", "/dev/null"), true);
    benchmark::Initialize(&argc, argv);
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const error& e) {
        std::cerr << "resolution failed:\n" << e.getText();
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
