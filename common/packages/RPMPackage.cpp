#include "common/packages/RPMPackage.h"

#include "common/packages/DependencyFile.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"

#include <rpm/header.h>
#include <rpm/rpmio.h>
#include <rpm/rpmlib.h>
#include <rpm/rpmlog.h>
#include <rpm/rpmtag.h>
#include <rpm/rpmtd.h>
#include <rpm/rpmts.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

void RPMPackage::loadConfig() {
    static std::mutex lock;
    static bool loaded = false;
    std::lock_guard<std::mutex> hold(lock);
    if (loaded)
        return;
    if (rpmReadConfigFiles(nullptr, nullptr) != 0) {
        Log::stream(1, true) << "rpmReadConfigFiles() failed.";
        throw error(error::system, 1, 1, 2) << Messages().getMessage("err_rpm_read_config");
    }
    loaded = true;
}

namespace {

error missingValue() {
    return error(error::internal, 1, 1, 2) << "can't get header";
}

error missingNumber() {
    return error(error::internal, 1, 1, 2) << "can't get uint32 header";
}

// One tag of a header, copied out so that it outlives the header.
class Tag {
public:
    Tag(Header header, rpmTagVal tag) : data(rpmtdNew()) {
        present = headerGet(header, tag, data, HEADERGET_MINMEM) != 0;
    }
    Tag(const Tag&) = delete;
    Tag& operator=(const Tag&) = delete;
    ~Tag() {
        rpmtdFreeData(data);
        rpmtdFree(data);
    }

    // An absent array tag has no entries.
    std::vector<std::string> strings() const {
        std::vector<std::string> values;
        if (!present)
            return values;
        rpmtdInit(data);
        while (const char* value = rpmtdNextString(data))
            values.emplace_back(value);
        return values;
    }
    std::vector<uint32_t> numbers() const {
        std::vector<uint32_t> values;
        if (!present)
            return values;
        rpmtdInit(data);
        while (rpmtdNext(data) >= 0) {
            if (const uint32_t* value = rpmtdGetUint32(data))
                values.push_back(*value);
            else if (const uint16_t* small = rpmtdGetUint16(data))
                values.push_back(*small);
            else
                throw missingNumber();
        }
        return values;
    }
    std::string string() const {
        const char* value = present ? rpmtdGetString(data) : nullptr;
        if (!value)
            throw missingValue();
        return value;
    }
    bool has() const { return present; }

private:
    rpmtd data;
    bool present;
};

const std::string& entryAt(const std::vector<std::string>& values, size_t index) {
    if (index >= values.size())
        throw missingValue();
    return values[index];
}

uint32_t entryAt(const std::vector<uint32_t>& values, size_t index) {
    if (index >= values.size())
        throw missingNumber();
    return values[index];
}

// "name", or "name <op> version" with the operator made of the sense bits.
std::vector<std::string> dependencyTexts(Header header, rpmTagVal nameTag, rpmTagVal flagsTag,
                                         rpmTagVal versionTag) {
    std::vector<std::string> names = Tag(header, nameTag).strings();
    std::vector<uint32_t> flags = Tag(header, flagsTag).numbers();
    std::vector<std::string> versions = Tag(header, versionTag).strings();
    std::vector<std::string> texts;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& version = entryAt(versions, i);
        uint32_t sense = entryAt(flags, i);
        if (version.empty()) {
            texts.push_back(names[i]);
            continue;
        }
        std::string relation;
        if (sense & RPMSENSE_LESS)
            relation += '<';
        if (sense & RPMSENSE_GREATER)
            relation += '>';
        if (sense & RPMSENSE_EQUAL)
            relation += '=';
        texts.push_back(names[i] + " " + relation + " " + version);
    }
    return texts;
}

} // namespace

RPMPackage::RPMPackage(const std::string& name, const std::string& versionText) : Package(name, versionText) {
    loadConfig();
}

RPMPackage::~RPMPackage() = default;

void RPMPackage::readInfo() {
    const std::string& path = getFileName();
    error failure = error(error::system, 1, 1, 2) << Messages().format("err_pkgread", path);

    FD_t fd = Fopen(path.c_str(), "r");
    if (!fd || Ferror(fd)) {
        failure << ": " << (fd ? Fstrerror(fd) : strerror(errno));
        if (fd)
            Fclose(fd);
        throw failure;
    }
    rpmts ts = rpmtsCreate();
    Header header = nullptr;
    rpmRC result = rpmReadPackageFile(ts, fd, path.c_str(), &header);
    Fclose(fd);
    rpmtsFree(ts);
    if (result != RPMRC_OK && result != RPMRC_NOKEY) {
        const char* reason = rpmlogMessage();
        headerFree(header);
        failure << ": " << (reason ? reason : "");
        throw failure;
    }
    struct HeaderHold {
        Header header;
        ~HeaderHold() { headerFree(header); }
    } hold{header};

    setName(Tag(header, RPMTAG_NAME).string());
    auto version = std::make_unique<Version>(Tag(header, RPMTAG_VERSION).string());
    Tag epoch(header, RPMTAG_EPOCH);
    if (epoch.has()) {
        version->epoch = entryAt(epoch.numbers(), 0);
        version->hasEpoch = true;
    }
    std::string release = Tag(header, RPMTAG_RELEASE).string();
    version->setRelease(release.c_str());
    setVersion(std::move(version));
    setArch(Tag(header, RPMTAG_ARCH).string());
    setBuildTime(static_cast<int64_t>(entryAt(Tag(header, RPMTAG_BUILDTIME).numbers(), 0)));
    Tag(header, RPMTAG_SUMMARY).string();

    // Texts and paths are kept whole, however long.
    for (const std::string& text :
         dependencyTexts(header, RPMTAG_REQUIRENAME, RPMTAG_REQUIREFLAGS, RPMTAG_REQUIREVERSION))
        addRequire(text);
    for (const std::string& text :
         dependencyTexts(header, RPMTAG_PROVIDENAME, RPMTAG_PROVIDEFLAGS, RPMTAG_PROVIDEVERSION))
        addProvide(text);

    std::vector<std::string> digests = Tag(header, RPMTAG_FILEMD5S).strings();
    std::vector<uint32_t> dirIndexes = Tag(header, RPMTAG_DIRINDEXES).numbers();
    if (digests.size() != dirIndexes.size())
        throw internal_error("common/RPMPackage", 275);
    std::vector<std::string> baseNames = Tag(header, RPMTAG_BASENAMES).strings();
    std::vector<std::string> dirNames = Tag(header, RPMTAG_DIRNAMES).strings();
    std::vector<uint32_t> modes = Tag(header, RPMTAG_FILEMODES).numbers();
    std::vector<std::string> links = Tag(header, RPMTAG_FILELINKTOS).strings();
    for (size_t i = 0; i < baseNames.size(); ++i) {
        std::string filePath = entryAt(dirNames, entryAt(dirIndexes, i)) + baseNames[i];
        int mode = static_cast<int>(entryAt(modes, i));
        bool link = DependencyFile::fileType(mode) == DependencyFile::SYMLINK;
        const std::string& content = link ? entryAt(links, i) : entryAt(digests, i);
        addProvide(DependencyFile::create(filePath, mode, content, this));
    }

    for (const std::string& text :
         dependencyTexts(header, RPMTAG_CONFLICTNAME, RPMTAG_CONFLICTFLAGS, RPMTAG_CONFLICTVERSION))
        addConflict(text);
    for (const std::string& text :
         dependencyTexts(header, RPMTAG_OBSOLETENAME, RPMTAG_OBSOLETEFLAGS, RPMTAG_OBSOLETEVERSION))
        addObsolete(text);

    readFileStat();
}
