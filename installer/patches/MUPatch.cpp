#include "installer/patches/MUPatch.h"

#include "common/runtime/Log.h"
#include "common/runtime/POpen.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "installer/patches/MUEntity.h"
#include "installer/patches/MUEntityFile.h"
#include "installer/patches/MUInstalledDB.h"

#include <sstream>

namespace {

// The restore program of this system, or "" when there is none.
std::string restoreconPath() {
    for (const char* path : {"/sbin/restorecon", "/usr/sbin/restorecon"})
        if (fileops::exists(path))
            return path;
    return "";
}

} // namespace

MUPatch::MUPatch(const std::string& productId, const std::string& productVersion, const std::string& version,
                 const std::string& timestamp, bool security, bool forced, const std::string& type,
                 const std::string& revision)
    : productId(productId), productVersion(productVersion), version(version), timestamp(timestamp),
      security(security), forced(forced), type(type), revision(revision) {}

void MUPatch::addItem(const item_ptr& item) {
    items.push_back(item);
}

void MUPatch::check() {
    try {
        for (const item_ptr& item : items)
            item->check();
    } catch (error& e) {
        e.addLine(0, 0, 0, 0) << "error during check patch " << toString();
        throw;
    }
}

void MUPatch::prepare() {
    try {
        for (const item_ptr& item : items)
            item->prepare();
    } catch (error& e) {
        e.addLine(0, 0, 0, 0) << "error during prepare patch " << toString();
        throw;
    }
}

void MUPatch::apply() {
    int applied = 0;
    int skipped = 0;
    int failed = 0;
    for (const item_ptr& item : items) {
        try {
            item->apply();
        } catch (error& e) {
            try {
                finalize();
            } catch (...) {
            }
            e.addLine(0, 0, 0, 0) << "can't apply patch " << toString();
            throw;
        }
        switch (item->getState()) {
        case MUEntity::state_applied:
            ++applied;
            break;
        case MUEntity::state_failed:
            ++failed;
            break;
        default:
            ++skipped;
        }
    }
    try {
        finalize();
    } catch (error& e) {
        e.addLine(0, 0, 0, 0) << "can't finalize application of patch " << toString();
        throw;
    }
    Log::stream(1, true) << "Patch " << toString() << " installation summary: " << applied
                         << " items applied, " << skipped << " items skipped, " << failed << " items failed.";
    MUInstalledDB::instance().setInstalled(*this);
}

void MUPatch::finalize() {
    std::vector<std::string>& written = MUEntityFile::patchedFiles();
    if (written.empty())
        return;
    const std::vector<std::string> paths = std::move(written);
    written.clear();
    const std::string program = restoreconPath();
    if (program.empty())
        return;

    Log::stream(2, true) << "Restoring SELinux security context for patched files";
    std::ostringstream list;
    for (const std::string& path : paths)
        list << path << "\n";
    std::istringstream input(list.str());
    std::ostringstream output;
    std::ostringstream errors;
    POpen::start(program + " -i -f -", &input, &output, &errors)->wait(false);
    Log::stream(3, true) << output.str() << errors.str();
}

std::string MUPatch::toString() const {
    std::ostringstream text;
    text << productId << "-" << productVersion << "~patch";
    version.print(text);
    return text.str();
}
