// Building the component tree and resolving component requests for a catalogue of 50 products with
// 20 components each, read from a local installation source written at start.
//   bench/components/run
// There is no other tool doing the same work, so the figures are plain times.

#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/ProductInf3FileGuard.h"
#include "installer/catalogue/Release.h"
#include "installer/components/BuildLoader.h"
#include "installer/components/ComponentManager.h"
#include "installer/components/ComponentManagerPasses.h"
#include "installer/components/ComponentsChangeset.h"
#include "installer/components/ParamManager.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "installer/sources/SourceManager.h"

#include <benchmark/benchmark.h>

#include <boost/filesystem.hpp>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int productCount = 50;
const int componentCount = 20;

std::string productId(int product) {
    char id[8];
    std::snprintf(id, sizeof id, "p%02d", product);
    return id;
}

// Component names are unique in the whole catalogue, as the loader keeps the first of a name.
std::string componentName(const std::string& product, int component) {
    if (component == 0)
        return product + "-base";
    char name[8];
    std::snprintf(name, sizeof name, "-c%02d", component);
    return product + name;
}

void writeFile(const boost::filesystem::path& path, const std::string& text) {
    boost::filesystem::create_directories(path.parent_path());
    std::ofstream(path.string()) << text;
}

// Components form a chain of requirements down to "base"; the last two are the alternatives of a
// radio group, and every fifth one is hidden.
std::string buildDescription(const std::string& id, const Opsys& os) {
    std::ostringstream out;
    out << "<build os_name=\"" << os.getName() << "\" os_vendor=\"" << os.getVendor() << "\" os_version=\""
        << os.getVersion() << "\" os_arch=\"" << os.getArch() << "\" environment=\"\" build_dir=\"dist\" ez-template-suffix=\"bench\">\n"
        << "  <product id=\"" << id << "\">\n"
        << "    <keypackages><keypackage>" << id << "-base</keypackage></keypackages>\n"
        << "    <release id=\"" << id << "-1.0\" name=\"" << id << " 1.0\" version=\"1.0\"/>\n"
        << "  </product>\n";
    for (int c = 0; c < componentCount; ++c) {
        const std::string name = componentName(id, c);
        const std::string& package = name;
        out << "  <component name=\"" << name << "\" description=\"" << name << "\""
            << (c % 5 == 4 ? " hidden=\"true\"" : "") << ">\n";
        if (c > 0)
            out << "    <requires>" << componentName(id, c == componentCount - 1 ? c - 2 : c - 1) << "</requires>\n";
        out << "    <keypackages><keypackage name=\"" << package << "\"/></keypackages>\n"
            << "    <package name=\"" << package << "\" file=\"" << package << ".rpm\" version=\"1.0\" release=\"1\""
            << " arch=\"noarch\" md5=\"00000000000000000000000000000000\" buildtime=\"1700000000\" size=\"1024\"/>\n"
            << "  </component>\n";
    }
    out << "  <component_groups>\n    <group name=\"alternatives\" type=\"radio\">\n"
        << "      <component name=\"" << componentName(id, componentCount - 2) << "\" default=\"true\"/>\n"
        << "      <component name=\"" << componentName(id, componentCount - 1) << "\"/>\n"
        << "    </group>\n  </component_groups>\n"
        << "  <installation_types>\n    <type name=\"Typical\" description=\"Typical\">\n";
    for (int c = 0; c < componentCount / 2; ++c)
        out << "      <component>" << componentName(id, c) << "</component>\n";
    out << "    </type>\n  </installation_types>\n</build>\n";
    return out.str();
}

std::string productFile(const std::string& id, const Opsys& os) {
    std::ostringstream out;
    out << "<product id=\"" << id << "\">\n"
        << "  <keypackages><keypackage>" << id << "-base</keypackage></keypackages>\n"
        << "  <release id=\"" << id << "-1.0\" name=\"" << id << " 1.0\" version=\"1.0\" upgrade_allowed_from=\"0.1\">\n"
        << "    <build os_name=\"" << os.getName() << "\" os_vendor=\"" << os.getVendor() << "\" os_version=\""
        << os.getVersion() << "\" os_arch=\"" << os.getArch() << "\" config=\"1.0/bench.build.inf3\"/>\n"
        << "  </release>\n</product>\n";
    return out.str();
}

// The source, and the installed packages: every other product has its base at an older version.
class Catalogue {
public:
    Catalogue() : root(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("moxel-bench-%%%%%%")) {
        const Opsys os;
        std::ostringstream products;
        products << "<vendors><vendor><products>\n";
        std::ostringstream installedText;
        for (int p = 0; p < productCount; ++p) {
            const std::string id = productId(p);
            products << "  <product id=\"" << id << "\" name=\"" << id << "\" reference=\"" << id << "/product.inf3\"/>\n";
            writeFile(root / "source" / id / "product.inf3", productFile(id, os));
            writeFile(root / "source" / id / "1.0" / "bench.build.inf3", buildDescription(id, os));
            if (p % 2 == 0)
                installedText << "N:" << id << "-base\nV:0.9\nL:1\nB:1600000000\nX:\n\n";
        }
        products << "</products></vendor></vendors>\n";
        writeFile(root / "source" / "products.inf3", products.str());
        writeFile(root / "installed.cache", installedText.str());
        boost::filesystem::create_directories(root / "target");
        FILE* in = std::fopen((root / "installed.cache").c_str(), "re");
        installed.addFromCache(in, 's', Repository::DUPS_APPEND, nullptr);
        std::fclose(in);
    }
    ~Catalogue() { boost::filesystem::remove_all(root); }

    std::string source() const { return (root / "source").string() + "/"; }
    std::string target() const { return (root / "target").string(); }

    const boost::filesystem::path root;
    Repository installed;
};

// Everything a run keeps while the tree lives.
struct Tree {
    explicit Tree(const Catalogue& catalogue)
        : fetcher(catalogue.source(), catalogue.target()), repository(catalogue.installed), sources(&repository),
          patches(&fetcher, &components) {
        BuildManager manager(fetcher, "");
        manager.calculateReleaseStates(&catalogue.installed);
        for (int p = 0; p < productCount; ++p)
            manager.selectRelease(productId(p), productId(p) + "-1.0");
        BuildLoader loader(&repository, &components, &fetcher, &sources, &params, &patches, &guards);
        manager.accept(loader);
        loader.commit();
        ComponentManager::CheckInstalled installedState(&repository, nullptr);
        components.accept(installedState);
        ComponentManager::ShriveledRadioGroupsRemover shrink(&components);
        components.accept(shrink);
    }

    FileFetcher fetcher;
    Repository repository;
    SourceManager sources;
    ParamManager params;
    MicroUpdateManager patches;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> guards;
    ComponentManager components;
};

void BuildTree(benchmark::State& state) {
    const Catalogue catalogue;
    for (auto _ : state) {
        Tree tree(catalogue);
        benchmark::DoNotOptimize(tree.components.nodes.size());
    }
}

// Asks for the last component of every product, which pulls in its chain of requirements.
void ResolveRequests(benchmark::State& state) {
    const Catalogue catalogue;
    Tree tree(catalogue);
    std::vector<comp_cptr_t> requested;
    for (const auto& node : tree.components.nodes)
        if (auto component = std::dynamic_pointer_cast<AiComponent>(node))
            if (component->name == componentName(component->getProductId(), componentCount - 3))
                requested.push_back(component);
    if (requested.size() != productCount)
        state.SkipWithError("the catalogue did not load as written");
    for (auto _ : state) {
        ComponentsChangeset changeset;
        for (const auto& component : requested)
            changeset.setMode(component, REQ_INSTALL);
        if (!tree.components.resolveComponents(&changeset))
            state.SkipWithError("the requests conflict");
        state.counters["installs"] = static_cast<double>(changeset.getNamesToInstall().size());
    }
}

} // namespace

BENCHMARK(BuildTree)->Unit(benchmark::kMillisecond);
BENCHMARK(ResolveRequests)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    Log::setStderrThreshold(-1);
    benchmark::Initialize(&argc, argv);
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const error& e) {
        std::fprintf(stderr, "%s", e.getText().c_str());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
