#include "installer/sources/SourceDistMoxel.h"

SourceDistMoxel::SourceDistMoxel(Repository* repository, const FileFetcher& fetcher,
                                 const boost::shared_ptr<Build>& build)
    : SourceMoxel(repository, fetcher, build, 'b') {}

SourceDistMoxel::~SourceDistMoxel() = default;
