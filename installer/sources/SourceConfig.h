#pragma once

#include "common/packages/Source.h"

class Package;
class Repository;

// The packages that build descriptions name themselves. They stand in for the packages of the
// update server until its headers are read: the full read takes them out again.
class SourceConfig : public Source {
public:
    explicit SourceConfig(Repository* repository);
    ~SourceConfig() override;

    // Lists the package in the repository with this source as its origin.
    void addPackage(Package* package);

protected:
    void doGetBrief() override;
    void doGetFull() override;
};
