#pragma once

#include "common/runtime/DownloadProgressRenderer.h"
#include "common/runtime/ProgressValue.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Gives local copies of the files of one installation source. A local source is read in place; from a
// network source a file is downloaded below the target directory, through a ".tmp" name, and only
// replaces an earlier copy once it has arrived whole and passed its MD5 check. Copies of a fetcher
// are the way to work below a subdirectory of the source.
class FileFetcher {
public:
    FileFetcher(const std::string& source, const std::string& target_dir);
    // Shares everything but the progress renderer: the copy draws its own lines.
    FileFetcher(const FileFetcher& other);
    FileFetcher& operator=(const FileFetcher&) = delete;

    // Offsets only grow; copy the fetcher to work below another directory.
    void addSubdirOffset(const std::string& subdir);

    // The path of a local copy of offset + name. `md5` (32 lower-case hexadecimal digits, or empty for
    // no check) is checked before the path is returned; `local_name`, when given, is the path below
    // the target directory instead of offset + name. A download longer than `size` bytes (a size the
    // source declares; 0 for a file of the catalogue, whose size nobody declares, which is then held
    // to undeclared_size_limit) is an error. Raises for every failure.
    std::string getFile(const std::string& name, const std::string& md5 = "",
                        const std::string& local_name = "", uint64_t size = 0);

    // Catalogue files, build descriptions, package lists and the installer itself (which self-upgrade
    // fetches without a declared size; a sanitizer build of it exceeds 128 MiB) are far smaller.
    static const uint64_t undeclared_size_limit = 512 << 20;

    // Counts the files of this fetcher on a shared counter, for "(n of m)" across many fetches.
    void addProgressObserver(const std::shared_ptr<ProgressValue<unsigned long>>& files);

    // Base locations, each ending in '/'; the first is the main source location.
    const std::vector<std::string>& getSources() const { return sources; }
    const std::string& getTargetDir() const { return target_dir; }
    // Empty or ending in '/'.
    const std::string& getSubdirOffset() const { return subdir_offset; }
    const std::shared_ptr<DownloadProgressRenderer>& getProgressRenderer() const { return renderer; }

private:
    std::vector<std::string> sources;
    std::string source;
    std::string target_dir;
    std::string subdir_offset;
    std::shared_ptr<DownloadProgressRenderer> renderer;
};
