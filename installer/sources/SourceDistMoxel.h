#pragma once

#include "installer/sources/SourceMoxel.h"

// The repository of a build's own packages (kind 'b'). Its type marks the one source per build that
// stands for the build as a whole: the APT records and the repository processor look only at these.
class SourceDistMoxel : public SourceMoxel {
public:
    SourceDistMoxel(Repository* repository, const FileFetcher& fetcher,
                    const boost::shared_ptr<Build>& build);
    ~SourceDistMoxel() override;
};
