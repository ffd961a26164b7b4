#include "common/packages/PackageCacheReader.h"

#include "common/packages/DependencyFile.h"
#include "common/packages/DependencyLogical.h"
#include "common/packages/Package.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/util.h"

#include <cctype>
#include <cstring>

namespace {

error formatError(const char* key) {
    return error(error::repository, 1, 1, 3) << Messages().getMessage(key);
}

bool isSingleTag(char tag) {
    return tag != '\0' && strchr("ABEFLMNSVfs", tag) != nullptr;
}

} // namespace

PackageCacheReader::PackageCacheReader(FILE* file, int* lineCounter) : file(file), lineCounter(lineCounter) {}

std::unique_ptr<Package> PackageCacheReader::readRecord() {
    try {
        readRecordLines();
    } catch (error& e) {
        e.addLine(error::repository, 1, 1, 3)
            << "Error in Package::createFromCache: input line  " << *lineCounter << ": " << line;
        throw;
    }
    return std::move(package);
}

void PackageCacheReader::readRecordLines() {
    for (;;) {
        if (!readLine()) {
            Log::stream(1, true) << "createFromCache(): package must terminated with 'X'";
            throw formatError("err_cache_unexpend");
        }
        if (isSingleTag(tag)) {
            storeSingleTag();
            continue;
        }
        switch (tag) {
        case 'R':
            makePackage();
            package->addRequire(value);
            break;
        case 'C':
            makePackage();
            package->addConflict(value);
            break;
        case 'O':
            makePackage();
            package->addObsolete(value);
            break;
        case 'P':
            makePackage();
            readProvide();
            break;
        case 'X':
            makePackage();
            return;
        default:
            Log::stream(0, true) << "Warning: unknow tag in cache, whole line is: " << line << "'";
            break;
        }
    }
}

bool PackageCacheReader::readLine() {
    for (;;) {
        // Longer lines arrive in pieces, each taken as a line of its own.
        char buffer[1023];
        if (!fgets(buffer, sizeof buffer, file))
            return false;
        ++*lineCounter;
        util::trim(buffer);
        line = buffer;
        if (!line.empty() && line[0] == '#')
            continue;
        // rpm writes "(none)" for a tag the package does not have.
        for (size_t at; (at = line.find("(none)")) != std::string::npos;)
            line.erase(at, 6);
        if (line.size() < 2)
            throw formatError("err_cache_shortline");
        if (line[1] != ':')
            throw formatError("err_cache_semicolon");
        tag = line[0];
        size_t start = 2;
        while (start < line.size() && isspace(static_cast<unsigned char>(line[start])))
            ++start;
        value = line.substr(start);
        return true;
    }
}

void PackageCacheReader::storeSingleTag() {
    if (package) {
        Log::stream(1, true) << "Invalid cache format: multi-occured fields mixed with single-occured fields";
        Log::stream(2, true) << "Error in Package::createFromCache: input line  " << *lineCounter << ":"
                             << line;
        throw formatError("err_cache_semicolon");
    }
    std::string& stored = singleTags[tag];
    if (!stored.empty()) {
        Log::stream(1, true) << "Invalid cache format: tag '" << tag << "' occured twice, second in '" << line
                             << "'";
        throw formatError("err_cache_multitag");
    }
    stored = value;
}

void PackageCacheReader::makePackage() {
    if (package)
        return;
    auto single = [this](char t) {
        auto found = singleTags.find(t);
        return found == singleTags.end() ? std::string() : found->second;
    };
    std::string name = single('N');
    if (name.empty())
        name = "nameless";
    if (single('V').empty()) {
        Log::stream log(1, true);
        for (const auto& entry : singleTags)
            log << " '" << entry.first << "=" << entry.second << "'";
        throw formatError("err_cache_pkgvers");
    }
    std::string versionText = single('V');
    if (!single('E').empty())
        versionText = single('E') + ":" + versionText;
    if (!single('L').empty())
        versionText += "-" + single('L');
    std::string arch = single('A');
    if (arch.empty())
        arch = "all";
    std::string fileName = single('F');
    if (fileName.empty())
        fileName = "dummy_filename_" + name + "-" + versionText + ".rpm";

    std::unique_ptr<Package> made = Package::createFromFile(name, versionText, fileName);
    made->setArch(arch);
    if (!single('f').empty())
        made->setInstallTime(util::to_long(single('f')));
    if (!single('B').empty())
        made->setBuildTime(single('B'));
    if (!single('s').empty())
        made->setSize(single('s'));
    if (!single('M').empty())
        made->setMd5(single('M'));
    package = std::move(made);
}

// A provide may be followed by the mode ('m') and digest or link ('5') lines of a file.
void PackageCacheReader::readProvide() {
    std::string provide = value;
    std::string modeText;
    std::string digestText;
    for (;;) {
        int next = getc(file);
        if (next == EOF)
            throw formatError("err_cache_descend");
        ungetc(next, file);
        if (next != 'm' && next != '5')
            break;
        readLine();
        (tag == 'm' ? modeText : digestText) = value;
    }
    if (!modeText.empty() || !digestText.empty())
        package->addProvide(DependencyFile::create(provide, static_cast<int>(util::to_long(modeText)),
                                                   digestText, package.get()));
    else
        package->addProvide(std::make_shared<DependencyLogical>(provide, package.get()));
}
