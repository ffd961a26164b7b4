#include "installer/catalogue/ProductInf3FileGuard.h"

#include "common/runtime/DownloadProgressRenderer.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/md5rep.h"

#include <exception>

namespace {

bool new_build_available = false;

// SIGHUP must not stop the second download half-way. When the phase is unsafe already (an
// installation around us), markUnsafe raises and no object is made, so the outer phase is not
// ended here.
class UnsafePhase {
public:
    UnsafePhase() { Progress::markUnsafe(); }
    UnsafePhase(const UnsafePhase&) = delete;
    UnsafePhase& operator=(const UnsafePhase&) = delete;
    ~UnsafePhase() {
        try {
            Progress::markSafe();
        } catch (...) {
            // Only its log line can fail; the flag is set by then.
        }
    }
};

} // namespace

ProductInf3FileGuard::ProductInf3FileGuard(FileFetcher& fetcher, const std::string& name)
    : _fetcher(fetcher), _name(name) {
    _local_path = fetcher.getFile(name);
    _md5 = util::md5_file_string(_local_path);
    if (_md5.empty())
        throw error(error::system, 1, 1, 2) << Messages().format("err_md5_pre", _local_path);
}

ProductInf3FileGuard::~ProductInf3FileGuard() {
    if (Progress::wasInterrupted() || std::uncaught_exceptions() > 0)
        return;
    try {
        recheck();
    } catch (const error& e) {
        Log::stream(1, true) << "Error during checking for build updates at download site: " << e.getText();
    } catch (const std::exception& e) {
        Log::stream(1, true) << "std::exception during checking for build updates at download site: "
                             << e.what();
    } catch (...) {
        Log::stream(1, true) << "Unexpected exception during checking for build updates at download site.";
    }
}

void ProductInf3FileGuard::recheck() {
    const UnsafePhase unsafe;
    _fetcher.getProgressRenderer()->quiet = true;
    const std::string path = _fetcher.getFile(_name);
    const std::string md5 = util::md5_file_string(path);
    if (md5.empty()) {
        Log::stream(0, true) << Messages().getMessage("err_chk_md5") << path;
        return;
    }
    if (md5 != _md5) {
        Log::stream(0, true) << Messages().getMessage("new_build_avail");
        new_build_available = true;
    }
    Log::stream(2, true) << "ProductInf3FileGuard destroyed. Build "
                         << (new_build_available ? "changed" : "didn't change");
}

bool ProductInf3FileGuard::isNewBuildAvailable() {
    return new_build_available;
}

void ProductInf3FileGuard::forgetNewBuild() {
    new_build_available = false;
}
