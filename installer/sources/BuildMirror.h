#pragma once

#include "installer/sources/FileFetcher.h"

#include <memory>
#include <string>
#include <vector>

class BuildInfFile;
class Package;

// Mirrors the files of one build description: its packages and headers files, the APT repositories
// or RPM repository metadata the package managers read, and included descriptions.
class BuildMirror {
public:
    // Fetches and loads the description. `apt_base_dir` is the directory the description's APT
    // source texts are relative to: the directory of the product file that lists the build.
    BuildMirror(const FileFetcher& fetcher, const std::string& description_path,
                const std::string& apt_base_dir = "");
    BuildMirror(const BuildMirror&) = delete;
    BuildMirror& operator=(const BuildMirror&) = delete;
    ~BuildMirror();

    void run();

    // At the source root until run() enters the description's directory.
    const FileFetcher& getFetcher() const { return fetcher; }

private:
    enum class Kind { rpm, deb, other };

    Kind packageKind() const;
    void mirrorAptRepositories();
    void mirrorAptRepository(const std::string& source_text);
    void mirrorBuildFiles();
    void mirrorPackageDirectory(const std::string& dir, const std::vector<Package*>& packages,
                                const std::string& headers_file);
    void mirrorRepodata();
    static void mirrorAptIndex(FileFetcher& repository, const std::string& index);
    static void fetchPackages(FileFetcher& files, const std::vector<Package*>& packages);

    FileFetcher fetcher;
    std::unique_ptr<BuildInfFile> description;
    std::string base_dir;
    std::string apt_base_dir;
};
