#include "installer/sources/FileFetcher.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/util.h"
#include "installer/sources/Downloader.h"
#include "installer/sources/SourceUrl.h"

#include <boost/filesystem/operations.hpp>

#include <algorithm>

namespace {

// Names come from the catalogue of the source, which may be hostile: they must name a file below
// the directory they are resolved in (not the directory itself).
void checkConfined(const std::string& name) {
    bool escapes = name.empty() || name[0] == '/' || name.back() == '/';
    for (size_t start = 0; !escapes && start <= name.size();) {
        size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        escapes = name.compare(start, end - start, "..") == 0;
        start = end + 1;
    }
    if (escapes)
        throw error(1, 1, 1, 2) << "The installation source names the file " << util::escape_c_string(name)
                                << ", which is not a relative path without '..' components.";
}

// Moves the arrived file into place; on failure it goes, and the old copy stays.
void replaceCopy(const std::string& arrived, const std::string& destination) {
    try {
        fileops::rename(arrived, destination);
    } catch (const boost::filesystem::filesystem_error& failure) {
        try {
            fileops::remove(arrived);
        } catch (const error& leftover) {
            Log::stream(1, true) << leftover.getText();
        }
        throw error(4, 1, 1, 2) << Messages().format("err_rename", arrived, destination,
                                                     failure.code().message());
    }
}

} // namespace

FileFetcher::FileFetcher(const std::string& source, const std::string& target_dir)
    : source(source), target_dir(target_dir), renderer(DownloadProgressRenderer::create()) {
    fileops::add_trailing(this->target_dir, '/');
    sources.push_back(parentLocation(source));
    Log::stream(2, true) << "FileFetcher new object: "
                         << "target_dir=" << this->target_dir << ", "
                         << "main_source_url=" << sources.front();
}

FileFetcher::FileFetcher(const FileFetcher& other)
    : sources(other.sources), source(other.source), target_dir(other.target_dir),
      subdir_offset(other.subdir_offset), renderer(DownloadProgressRenderer::create()) {}

void FileFetcher::addSubdirOffset(const std::string& subdir) {
    if (subdir.empty())
        return;
    subdir_offset += subdir;
    fileops::add_trailing(subdir_offset, '/');
    Log::stream(3, true) << "FileFetcher: current subdirs offset is " << subdir_offset;
}

void FileFetcher::addProgressObserver(const std::shared_ptr<ProgressValue<unsigned long>>& files) {
    renderer->setFilesProgress(files);
}

std::string FileFetcher::getFile(const std::string& name, const std::string& md5,
                                 const std::string& local_name, uint64_t size) {
    Log::stream(2, true) << "FileFetcher: get file (" << subdir_offset << ")/" << name;
    const std::string relative = subdir_offset + name;

    std::string file;
    std::string destination;
    if (isLocalPath(source)) {
        checkConfined(relative);
        file = sources.front() + relative;
    } else {
        std::string local = local_name.empty() ? relative : local_name;
        std::replace_if(
            local.begin(), local.end(),
            [](char c) { return std::string(":*?<>|").find(c) != std::string::npos; }, '_');
        checkConfined(local);
        destination = target_dir + local;

        DownloadProgressRenderer::FileScope scope(renderer, relative);
        if (!md5.empty()) {
            Log::stream(3, true) << "FileFetcher: calculate md5sum of " << destination;
            const std::string existing = util::md5_file_string(destination);
            if (!existing.empty() && existing == md5) {
                scope.completed = true;
                return destination;
            }
        }
        file = destination + ".tmp";
        std::unique_ptr<Downloader> downloader = Downloader::create(relative);
        renderer->setFileProgress(downloader->getBytes(), downloader->getRetries());
        downloader->setSizeLimit(size != 0 ? size : undeclared_size_limit);
        for (const std::string& base : sources)
            downloader->addSource(base);
        try {
            downloader->downloadToFile(file);
        } catch (...) {
            // What arrived of a refused or failed download is of no use, and may be large.
            boost::system::error_code ignored;
            boost::filesystem::remove(file, ignored);
            throw;
        }
    }

    if (!fileops::is_file(file))
        throw error(4, 2, 1, 1) << Messages().format("err_misfile", file);
    if (!md5.empty()) {
        const std::string actual = util::md5_file_string(file);
        if (actual.empty() || actual != md5) {
            Log::stream(2, true) << "MD5 mismatch: " << actual;
            throw error(4, 1, 1, 2) << Messages().format("err_mk5check", file, md5, actual);
        }
    }
    if (destination.empty())
        return file;
    // rename(2) replaces the old copy in one step, so there is always a whole file at the destination.
    replaceCopy(file, destination);
    return destination;
}
