// The RPM back end's plan and its installation groups for 200 and 1,000 packages of a synthetic
// product: each package needs one of the ten packages before it and an installed library, and every
// 25th package forms a cycle with the next one. The plan lists the packages that need others first,
// as the resolver does.
//   bench/installer/run
// No other tool forms installation groups, so the figures are times and their growth from 200 to
// 1,000 packages (5 is linear).

#include "common/packages/Package.h"
#include "common/packages/PkgManager.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "installer/engine/Installer.h"
#include "installer/engine/StageActions.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

class SilentStages : public StageActions {
public:
    bool performActions(const std::string&) override { return true; }
    bool performPkgsFailureActions() override { return true; }
    void reportProgressStep(const std::string&, const std::string&) override {}
    void removeExtensions(const cpkgs_t&) override {}
    void installExtensions(const cpkgs_t&) override {}
};

// Forms the groups and counts them; nothing is installed.
class GroupingInstaller : public Installer {
public:
    GroupingInstaller(Repository* repository, StageActions& stages, const cpkgs_t& plan)
        : Installer(repository, nullptr, nullptr, stages) {
        packages = plan;
    }
    const cpkgs_t& resolveDependencies() override { return packages; }
    size_t groups = 0;

protected:
    void executeGroup(const cpkgs_t&) override { ++groups; }
};

struct Product {
    explicit Product(int size) {
        const int libraries = size / 10 + 1;
        for (int i = 0; i < libraries; ++i)
            add("sys-lib" + std::to_string(i), 's');
        for (int i = 0; i < size; ++i) {
            Package* package = add("pkg" + std::to_string(i), 'b');
            package->addRequire("sys-lib" + std::to_string(i % libraries));
            if (i > 0)
                package->addRequire("pkg" + std::to_string(i - 1 - (i * 7) % std::min(i, 10)));
            if (i % 25 == 0 && i + 1 < size)
                package->addRequire("pkg" + std::to_string(i + 1));
            plan.insert(plan.begin(), package);
        }
        repository.resolveRequires();
    }

    Package* add(const std::string& name, Package::type_t type) {
        owned.push_back(std::make_unique<Package>(name, "1.0-1"));
        Package* package = owned.back().get();
        package->setType(type);
        package->setArch("noarch");
        package->addProvide(package->getSelfProvide());
        repository.addPackage(package, nullptr);
        return package;
    }

    std::vector<std::unique_ptr<Package>> owned;
    Repository repository;
    cpkgs_t plan;
};

void openLog() {
    static bool opened = false;
    if (opened)
        return;
    const char* dir = std::getenv("MOXEL_BENCH_LOG_DIR");
    Log::setStderrThreshold(-1);
    Log::open_file(std::string(dir ? dir : "/tmp") + "/installer-bench.log", true);
    opened = true;
}

void BM_Plan(benchmark::State& state) {
    openLog();
    for (auto _ : state) {
        state.PauseTiming();
        auto product = std::make_unique<Product>(static_cast<int>(state.range(0)));
        cpkgs_t necessary = product->plan;
        state.ResumeTiming();
        PkgManager resolver(&product->repository, &necessary, false);
        resolver.setOsArch(Opsys().getArch());
        resolver.blackListUnresolved();
        resolver.findNecessaryPackages(false);
        benchmark::DoNotOptimize(necessary.size());
        state.PauseTiming();
        product.reset();
        state.ResumeTiming();
    }
}

void BM_Groups(benchmark::State& state) {
    openLog();
    SilentStages stages;
    size_t groups = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto product = std::make_unique<Product>(static_cast<int>(state.range(0)));
        GroupingInstaller installer(&product->repository, stages, product->plan);
        state.ResumeTiming();
        installer.installPackages(product->plan);
        groups = installer.groups;
        state.PauseTiming();
        product.reset();
        state.ResumeTiming();
    }
    state.counters["groups"] = static_cast<double>(groups);
}

BENCHMARK(BM_Plan)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Groups)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
