#include "installer/sources/SourceMoxel.h"

#include "common/packages/Package.h"
#include "common/packages/RPMPackage.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/SystemCmd.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/md5rep.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildInfFile.h"

namespace {

const char* const unit = "installer/SourceMoxel";

} // namespace

SourceMoxel::SourceMoxel(Repository* repository, const FileFetcher& fetcher,
                         const boost::shared_ptr<Build>& build, char kind)
    : Source(repository), fetcher(fetcher), build(build), kind(kind) {
    const BuildInfFile& description =
        *checked_pointer<BuildInfFile>(checked_pointer<Build>(build.get())->_build_description.get());
    const BuildInfFile::repository_t* record = nullptr;
    switch (kind) {
    case 'b':
        record = &description.buildRepository;
        break;
    case 'u':
        record = &description.updatesRepository;
        break;
    case 't':
        record = &description.thirdpartyRepository;
        break;
    case 'x':
        record = &description.extrasRepository;
        break;
    default:
        throw internal_error(unit, 60);
    }
    headersFile = record->headers_file;
    if (record->dir.empty())
        throw internal_error(unit, 64);

    // A description at the root of the source has no directory to go below.
    const std::string descriptionDir = fileops::dirname(description.configName);
    this->fetcher.addSubdirOffset(descriptionDir.empty() ? record->dir : descriptionDir + "/" + record->dir);
    releaseId = description.product.releaseId;
    Log::stream(2, true) << "Use package source " << this->fetcher.getSources().front()
                         << this->fetcher.getSubdirOffset();
}

SourceMoxel::~SourceMoxel() = default;

void SourceMoxel::downloadPackage(Package* package) {
    if (!dynamic_cast<RPMPackage*>(package))
        return;
    if (package->getSize() == 0) {
        Log::stream(3, true) << "Warning: SourceMoxel::downloadPackage: getFileSize is 0 for "
                             << package->getName().c_str() << ", skip from downloading!";
        return;
    }
    Log::stream(3, true) << "Download";
    package->setFileName(fetcher.getFile(package->getFileName(), util::md5ToHex(package->getMd5().data()), "",
                                         static_cast<uint64_t>(package->getSize())));
}

bool SourceMoxel::isRemote() const {
    return true;
}

std::ostream& SourceMoxel::print(std::ostream& out) const {
    return out << "MoxelSource_" << kind << "_" << releaseId;
}

void SourceMoxel::setGpg(bool check, const std::string& key) {
    gpgCheck = check;
    gpgKey = key;
}

void SourceMoxel::doGetBrief() {}

void SourceMoxel::doGetFull() {
    Log::stream(2, true) << "Get full packages info from headers.";
    if (headersFile.empty())
        return;
    const std::string local = fetcher.getFile(headersFile);
    SystemCmd gunzip("gunzip  --stdout " + util::shell_quote(local), SystemCmd::mode_read);
    try {
        checked_pointer<Repository>(getRepository())
            ->addFromCache(gunzip.stream, kind, Repository::DUPS_APPEND, this);
    } catch (const error& failure) {
        Log::stream(0, true) << "Error: Unable to process " << local << ": " << failure.getText();
        // The reason is the record, not gunzip, which only loses its reader here.
        gunzip.close();
        throw error(error::repository, 1, 1, 3) << Messages().getMessage("err_prodpkg_read");
    }
    gunzip.check();
}
