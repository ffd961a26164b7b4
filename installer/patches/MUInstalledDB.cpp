#include "installer/patches/MUInstalledDB.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "installer/patches/MUPatch.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace pt = boost::posix_time;

namespace {

pt::ptime readTime(const std::string& text) {
    try {
        return pt::from_iso_string(text);
    } catch (...) {
        return pt::not_a_date_time;
    }
}

pt::ptime now() {
    return pt::second_clock::local_time();
}

[[noreturn]] void raiseSystemError(const std::string& text) {
    const int cause = errno;
    throw error(4, 2, 2, 2) << text << strerror(cause);
}

// A temporary file beside the database, removed unless it was renamed over it.
class TempFile {
public:
    explicit TempFile(const std::string& dir) : path(dir + "/mudbXXXXXX") {
        const std::string pattern = path;
        fd = mkostemp(&path[0], O_CLOEXEC);
        if (fd == -1) {
            const int cause = errno;
            Log::stream(3, true) << "DEBUG: mkstemp with template '" << pattern << "' failed.";
            errno = cause;
            raiseSystemError("Can't generate unique file name with mkstemp: ");
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd != -1)
            ::close(fd);
        if (!renamed)
            ::unlink(path.c_str());
    }

    // Writes the document, forces it to disk and closes the file.
    void write(TiXmlDocument& document) {
        const int owned = fd;
        fd = -1;
        bool saved = false;
        {
            fileops::File file(owned, path, "w");
            saved = document.SaveFile(file.file) && fflush(file.file) == 0 && fsync(fileno(file.file)) == 0;
        }
        if (!saved)
            throw error(4, 2, 2, 2) << "Can't store installed patches DB to XML file " << path;
    }

    void renameOver(const std::string& target) {
        if (::rename(path.c_str(), target.c_str()) != 0)
            raiseSystemError("Can't overwrite " + target + ": ");
        renamed = true;
    }

    std::string path;

private:
    int fd = -1;
    bool renamed = false;
};

TiXmlElement* appendElement(TiXmlNode& parent, const char* name,
                            std::initializer_list<std::pair<const char*, std::string>> attributes) {
    TiXmlElement element(name);
    for (const auto& attribute : attributes)
        element.SetAttribute(attribute.first, attribute.second);
    return parent.InsertEndChild(element)->ToElement();
}

} // namespace

const char* const MUInstalledDB::summaryPath = "/var/cordavine/installed-patches";

MUInstalledDB& MUInstalledDB::instance() {
    static std::unique_ptr<MUInstalledDB> database;
    if (!database) {
        auto loaded = std::make_unique<MUInstalledDB>();
        const std::string path = getDbPath();
        if (fileops::exists(path))
            loaded->load(path);
        database = std::move(loaded);
    }
    return *database;
}

std::string MUInstalledDB::getDbPath() {
    return fileops::get_home_dir() + "/.dizadizezeroz/microupdates.xml";
}

void MUInstalledDB::load(const std::string& path) {
    tinybind::Document document(path);
    const tinybind::Element root(document.root("patches"));
    for (tinybind::ChildIterator product(root, "product"), end; product != end; ++product) {
        const tinybind::Element element = *product;
        const pt::ptime installed = readTime(element.attribute("installed-at"));
        const std::string version = element.attribute("version");
        // Saving compares the product versions; an unreadable one is refused here, where it is found.
        Version checked(version);
        ProductRecord& record = prod(element.attribute("id"), version, installed);
        for (tinybind::ChildIterator patch(element, "patch"); patch != end; ++patch) {
            const tinybind::Element item = *patch;
            const pt::ptime patchInstalled = readTime(item.attribute("installed-at"));
            record.patches.push_back(PatchRecord{Version(item.attribute("version")),
                                                 item.attribute("timestamp"), patchInstalled,
                                                 item.attribute("revision")});
        }
    }
}

const MUInstalledDB::ProductRecord* MUInstalledDB::find(const std::string& id,
                                                        const std::string& version) const {
    for (const ProductRecord& record : records)
        if (record.id == id && record.version == version)
            return &record;
    return nullptr;
}

MUInstalledDB::ProductRecord& MUInstalledDB::prod(const std::string& id, const std::string& version,
                                                  pt::ptime installedAt) {
    for (ProductRecord& record : records)
        if (record.id == id && record.version == version)
            return record;
    Log::stream(3, true) << "MUInstalledDB::prod new entry";
    if (installedAt.is_neg_infinity())
        installedAt = now();
    records.push_back(ProductRecord{id, version, installedAt, {}});
    return records.back();
}

void MUInstalledDB::registerProduct(const std::string& id, const std::string& version) {
    if (find(id, version))
        return;
    prod(id, version, now());
    dirty = true;
}

void MUInstalledDB::setInstalled(const MUPatch& patch) {
    Log::stream(3, true) << "MUInstalledDB::setInstalled: append " << patch.toString();
    ProductRecord& record = prod(patch.getProductId(), patch.getProductVersion());
    record.patches.push_back(
        PatchRecord{patch.getVersion(), patch.getTimestamp(), now(), patch.getRevision()});
    keepLastPatches();
    dirty = true;
}

void MUInstalledDB::keepLastPatches() {
    for (ProductRecord& record : records)
        if (record.patches.size() > 1)
            record.patches.erase(record.patches.begin(), record.patches.end() - 1);
}

bool MUInstalledDB::isInstalledOrNewer(const MUPatch& patch) const {
    const ProductRecord* record = find(patch.getProductId(), patch.getProductVersion());
    if (!record)
        return false;
    for (const PatchRecord& installed : record->patches)
        if (installed.version.compare(patch.getVersion()) >= 0)
            return true;
    return false;
}

bool MUInstalledDB::isInstalled(const MUPatch& patch) const {
    const ProductRecord* record = find(patch.getProductId(), patch.getProductVersion());
    if (!record)
        return false;
    for (const PatchRecord& installed : record->patches)
        if (installed.version == patch.getVersion())
            return true;
    return false;
}

const MUInstalledDB::PatchRecord* MUInstalledDB::lastPatch(const std::string& id,
                                                           const std::string& version) const {
    const ProductRecord* record = find(id, version);
    return record && !record->patches.empty() ? &record->patches.back() : nullptr;
}

pt::ptime MUInstalledDB::installedAt(const std::string& id, const std::string& version) const {
    const ProductRecord* record = find(id, version);
    return record ? record->installedAt : pt::ptime(pt::not_a_date_time);
}

void MUInstalledDB::flush() {
    Log::stream(3, true) << "MUInstalledDB::flush entry";
    if (!dirty)
        return;
    save_db_to_file(getDbPath());
    dirty = false;
}

std::vector<const MUInstalledDB::ProductRecord*> MUInstalledDB::newestReleases() const {
    std::map<std::string, const ProductRecord*> newest;
    for (const ProductRecord& record : records) {
        const ProductRecord*& best = newest[record.id];
        if (!best || Version(record.version) > Version(best->version))
            best = &record;
    }
    std::vector<const ProductRecord*> written;
    for (const ProductRecord& record : records)
        if (Version(record.version) == Version(newest[record.id]->version))
            written.push_back(&record);
    return written;
}

void MUInstalledDB::save_db_to_file(const std::string& path) const {
    Log::stream(3, true) << "MUInstalledDB::save_db_to_file entry";
    if (records.empty())
        return;

    std::string dir = fileops::dirname(path);
    if (dir.empty())
        dir = path.compare(0, 1, "/") == 0 ? "/" : ".";
    if (fileops::exists(dir) && !fileops::is_directory(dir)) {
        Log::stream(0, true) << "ERROR: path " << dir << " exists, but it is not directory";
        throw error(4, 2, 2, 2) << "Path " << dir << " exists, but it is not a directory";
    }
    if (!fileops::exists(dir) && !fileops::create_directory(dir)) {
        const std::string text = Messages().format("err_mkdir", dir, strerror(EEXIST));
        Log::stream(0, true) << "ERROR: " << text;
        throw error(4, 2, 2, 2) << text;
    }

    const std::vector<const ProductRecord*> written = newestReleases();
    TiXmlDocument document;
    document.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", "yes"));
    TiXmlElement* root = document.InsertEndChild(TiXmlElement("patches"))->ToElement();
    for (const ProductRecord* record : written) {
        TiXmlElement* product = appendElement(*root, "product",
                                              {{"id", record->id},
                                               {"version", record->version},
                                               {"installed-at", pt::to_iso_string(record->installedAt)}});
        for (const PatchRecord& patch : record->patches)
            appendElement(*product, "patch",
                          {{"version", patch.version.toString()},
                           {"timestamp", patch.timestamp},
                           {"installed-at", pt::to_iso_string(patch.installedAt)},
                           {"revision", patch.revision}});
    }
    saveSummary(written);

    TempFile temp(dir);
    temp.write(document);
    temp.renameOver(path);
}

void MUInstalledDB::saveSummary(const std::vector<const ProductRecord*>& written) {
    std::string line;
    for (const ProductRecord* record : written)
        for (const PatchRecord& patch : record->patches)
            line += (line.empty() ? "" : " ") + record->id + "-" + record->version + "-" +
                    patch.version.toString();
    try {
        fileops::create_directory(fileops::dirname(summaryPath));
        fileops::write_file(summaryPath, line, 0644, true);
    } catch (const error& e) {
        Log::stream(2, true) << "Unable to save installed patches summary: " << e.getText();
    } catch (const std::exception& e) {
        Log::stream(2, true) << "Unable to save installed patches summary: " << e.what();
    }
}
