// Feeds arbitrary patch lists to the patch-list reader, as the list of a Moxel 18.0.1 build. The reader
// must answer every input with patches, a logged error or a tinybind::err, never with anything else.

#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/patches/MUEntityFile.h"
#include "installer/patches/MicroUpdateManager.h"
#include "installer/sources/FileFetcher.h"
#include "tests/fuzz/FuzzScratch.h"

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <cstdint>
#include <fstream>
#include <string>

namespace {

// The scratch directory, with the folder of the patch list.
std::string patchSourceDir() {
    const std::string& dir = fuzzScratchDir();
    boost::filesystem::create_directories(dir + "/moxel/18.0.1");
    return dir;
}

boost::shared_ptr<Build> moxelBuild() {
    auto product = boost::make_shared<Product>();
    product->_id = "moxel";
    auto release =
        boost::make_shared<Release>(product, "moxel-18.0.1", "Moxel 18.0.1", "", "18.0.1", "17.0.0");
    return boost::make_shared<Build>(release, "Linux", "Debian", "12", "x86_64", "", "",
                                     "moxel/18.0.1/debian-12-x86_64.build.inf3", "");
}

// Touches every patch and item the way the manager's users do.
size_t walk(const MicroUpdateManager& manager) {
    size_t seen = 0;
    for (const auto& entry : manager.getProducts()) {
        for (const auto& patch : manager.getPatches(entry.productId, entry.productVersion)) {
            seen += patch->toString().size() + patch->getVersion().getVersionWithEpoch().size();
            for (const auto& item : patch->getItems())
                if (const auto file = std::dynamic_pointer_cast<MUEntityFile>(item))
                    seen += file->getName().size() + file->getTarget().size();
        }
        seen += manager.getLastPatch(entry.productId, entry.productVersion) ? 1 : 0;
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = patchSourceDir();
    std::ofstream(dir + "/moxel/18.0.1/patches.xml", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    static const boost::shared_ptr<Build> build = moxelBuild();
    try {
        FileFetcher fetcher(dir + "/", dir + "/target");
        ComponentManager components;
        MicroUpdateManager manager(&fetcher, &components);
        manager.parseUrl(build, "moxel/18.0.1/patches.xml");
        walk(manager);
    } catch (const error&) {
    } catch (const tinybind::err&) {
    }
    return 0;
}
