#include "installer/sources/BuildMirror.h"

#include "common/packages/DebPackage.h"
#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "installer/catalogue/BuildInfFile.h"
#include "installer/sources/http_error.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// Signatures and release files that a repository may lack.
void fetchIfPresent(FileFetcher& fetcher, const std::string& name) {
    try {
        fetcher.getFile(name);
    } catch (const http_error& failure) {
        if (failure.getCode() != 404)
            throw;
        Log::stream(3, true) << "DEBUG: mirror: the server has no " << name;
    }
}

// One package file that a Packages index lists.
struct pool_file_t {
    std::string name;
    std::string md5;
    uint64_t size = 0;
};

std::string fieldValue(const std::string& line, const std::string& field) {
    return util::trim(line.substr(field.size()));
}

// Bounds on a decompressed Packages index: Debian's own main index is about 60 MiB, with lines of a
// few KiB.
const size_t max_index_bytes = size_t(256) << 20;
const size_t max_index_line = size_t(1) << 20;

error oversizedIndex(const std::string& local, const char* what, size_t cap) {
    return error(error::repository, 1, 1, 2)
           << "The package index " << util::escape_c_string(local) << " has " << what << " longer than "
           << std::to_string(cap) << " bytes";
}

// Calls `take` with every line of `stream`, without its line end.
void forEachIndexLine(const std::string& local, FILE* stream,
                      const std::function<void(const std::string&)>& take) {
    std::string line;
    size_t total = 0;
    char chunk[65536];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, stream)) > 0;) {
        total += got;
        if (total > max_index_bytes)
            throw oversizedIndex(local, "a text", max_index_bytes);
        for (size_t at = 0; at < got;) {
            const char* end = static_cast<const char*>(memchr(chunk + at, '\n', got - at));
            const size_t stop = end ? size_t(end - chunk) : got;
            line.append(chunk + at, stop - at);
            if (line.size() > max_index_line)
                throw oversizedIndex(local, "a line", max_index_line);
            at = stop;
            if (end) {
                take(line);
                line.clear();
                ++at;
            }
        }
    }
    if (!line.empty())
        take(line);
}

std::vector<pool_file_t> readPackagesIndex(const std::string& local) {
    std::vector<pool_file_t> files;
    pool_file_t entry;
    auto finishEntry = [&] {
        if (!entry.name.empty())
            files.push_back(entry);
        entry = pool_file_t();
    };
    SystemCmd gunzip("gunzip --stdout -- " + util::shell_quote(local), SystemCmd::mode_read);
    try {
        forEachIndexLine(local, gunzip.stream, [&](const std::string& text) {
            const std::string line = util::rtrim(text);
            if (line.empty())
                finishEntry();
            else if (line.compare(0, 9, "Filename:") == 0)
                entry.name = fieldValue(line, "Filename:");
            else if (line.compare(0, 7, "MD5sum:") == 0)
                entry.md5 = fieldValue(line, "MD5sum:");
            else if (line.compare(0, 5, "Size:") == 0)
                entry.size = std::strtoull(fieldValue(line, "Size:").c_str(), nullptr, 10);
        });
    } catch (const error&) {
        // gunzip only loses its reader here.
        gunzip.close();
        throw;
    }
    finishEntry();
    gunzip.check();
    return files;
}

} // namespace

BuildMirror::BuildMirror(const FileFetcher& fetcher, const std::string& description_path,
                         const std::string& apt_base_dir)
    : fetcher(fetcher), base_dir(fileops::dirname(description_path)), apt_base_dir(apt_base_dir) {
    const std::string local = this->fetcher.getFile(description_path);
    description = std::make_unique<BuildInfFile>(local, description_path);
    Log::stream(0, true) << "Updating the mirror for " << description_path;
}

BuildMirror::~BuildMirror() = default;

void BuildMirror::run() {
    const Kind kind = packageKind();
    if (kind == Kind::deb)
        mirrorAptRepositories();
    fetcher.addSubdirOffset(base_dir);
    mirrorBuildFiles();
    if (kind == Kind::rpm)
        mirrorRepodata();
}

BuildMirror::Kind BuildMirror::packageKind() const {
    const std::vector<Package*>& first = description->components.front()->packages;
    if (first.empty())
        return Kind::other;
    if (dynamic_cast<const RPMPackage*>(first.front()))
        return Kind::rpm;
    if (dynamic_cast<const DebPackage*>(first.front()))
        return Kind::deb;
    return Kind::other;
}

// The repositories that the APT configuration of the build names, as apt-get reads them.
void BuildMirror::mirrorAptRepositories() {
    const BuildInfFile::build_t& facts = description->build;
    if (facts.apt_source.empty()) {
        std::string vendor = facts.os_vendor;
        util::to_lower(vendor);
        FileFetcher repository(fetcher);
        repository.addSubdirOffset(vendor + "/" + facts.apt_repository);
        mirrorAptIndex(repository, "Packages.gz");
    } else {
        mirrorAptRepository(facts.apt_source);
    }
    if (!facts.persistent_apt_source.empty())
        mirrorAptRepository(facts.persistent_apt_source);
}

void BuildMirror::mirrorAptRepository(const std::string& source_text) {
    const std::vector<std::string> words = util::split_quoted(source_text);
    if (words.size() != 3) {
        Log::stream(0, true) << Messages().getMessage("err_apt_reference");
        return;
    }
    FileFetcher repository(fetcher);
    repository.addSubdirOffset(apt_base_dir);
    repository.addSubdirOffset(words[0]);
    const std::string suite = "dists/" + words[1];
    for (const char* name : {"/Release", "/InRelease", "/Release.gpg"})
        fetchIfPresent(repository, suite + name);
    const std::string arch = description->build.os_arch == "x86_64" ? "binary-amd64" : "binary-i386";
    mirrorAptIndex(repository, suite + "/" + words[2] + "/" + arch + "/Packages.gz");
}

// The index, then the package files it lists; both relative to the repository root.
void BuildMirror::mirrorAptIndex(FileFetcher& repository, const std::string& index) {
    const std::string local = repository.getFile(index);
    for (const pool_file_t& file : readPackagesIndex(local))
        repository.getFile(file.name, file.md5, "", file.size);
}

void BuildMirror::mirrorBuildFiles() {
    FileFetcher build(fetcher);
    build.addSubdirOffset(description->buildRepository.dir);
    for (const auto& component : description->components) {
        if (component->name == BuildInfFile::includeRecordName) {
            BuildMirror included(fetcher, component->description);
            included.run();
            continue;
        }
        fetchPackages(build, component->packages);
        fetchPackages(build, component->bootstrapper.packages);
    }
    if (!description->buildRepository.headers_file.empty())
        build.getFile(description->buildRepository.headers_file);
    fetchPackages(build, description->build.bootstrapper.packages);

    mirrorPackageDirectory(description->updatesRepository.dir, description->updatePackages,
                           description->updatesRepository.headers_file);
    if (!description->thirdpartyRepository.dir.empty())
        mirrorPackageDirectory(description->thirdpartyRepository.dir, description->thirdpartyPackages,
                               description->thirdpartyRepository.headers_file);
}

void BuildMirror::mirrorPackageDirectory(const std::string& dir, const std::vector<Package*>& packages,
                                         const std::string& headers_file) {
    FileFetcher files(fetcher);
    files.addSubdirOffset(dir);
    fetchPackages(files, packages);
    if (!headers_file.empty())
        files.getFile(headers_file);
}

// Debian package files are not where the description names them: apt-get takes them from the
// repository pools, which mirrorAptRepositories copies.
void BuildMirror::fetchPackages(FileFetcher& files, const std::vector<Package*>& packages) {
    for (const Package* package : packages) {
        if (package->getSize() == 0 || dynamic_cast<const DebPackage*>(package))
            continue;
        files.getFile(package->getFileName(), util::md5ToHex(package->getMd5().data()), "",
                      static_cast<uint64_t>(package->getSize()));
    }
}

// The metadata files that repomd.xml names, whatever they are called.
void BuildMirror::mirrorRepodata() {
    std::vector<std::string> dirs{description->buildRepository.dir, description->updatesRepository.dir};
    if (!description->thirdpartyRepository.dir.empty())
        dirs.push_back(description->thirdpartyRepository.dir);
    try {
        for (const std::string& dir : dirs) {
            if (dir.empty())
                continue;
            FileFetcher repository(fetcher);
            repository.addSubdirOffset(dir);
            tinybind::Document index(repository.getFile("repodata/repomd.xml"));
            for (tinybind::ChildIterator data(index.root("repomd"), "data");
                 data != tinybind::ChildIterator(); ++data)
                repository.getFile((*data).child("location").requiredAttribute("href"));
        }
    } catch (const error& failure) {
        Log::stream(1, true) << "Warning: repomd not mirrored: " << failure.getText();
    } catch (const tinybind::err& failure) {
        Log::stream(1, true) << "Warning: repomd not mirrored: " << failure.text;
    }
}
