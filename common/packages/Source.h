#pragma once

#include <ostream>

class Package;
class Repository;

// A provider of packages registered in a repository. The base keeps the registration and reads
// each kind of information at most once; subclasses bring their packages in.
class Source {
public:
    // Registers the source in the repository.
    explicit Source(Repository* repository);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    // Unregisters the source and takes its packages out of the repository.
    virtual ~Source();

    // Fetches the package's file so that it can be installed; the base does nothing.
    virtual void downloadPackage(Package* package);
    // Whether the packages must be downloaded before installation; the base says no.
    virtual bool isRemote() const;
    // "Package_source_" and the object's address.
    virtual std::ostream& print(std::ostream& out) const;

    // Reads the brief package information once.
    void getBrief();
    // Reads the brief information when not yet done, then the full information once.
    void getFull();
    // Takes the packages out and reads them briefly again; the full read is then due again.
    void reloadBrief();
    // Marks every package of the repository that came from this source 'z' and purges them.
    void removePackages();

    // Null once the repository has been destroyed.
    Repository* getRepository() const { return repository; }
    bool isBriefRead() const { return briefRead; }
    bool isFullRead() const { return fullRead; }

protected:
    virtual void doGetBrief() = 0;
    virtual void doGetFull() = 0;

private:
    friend class Repository;

    Repository* repository;
    bool briefRead = false;
    bool fullRead = false;
};

std::ostream& operator<<(std::ostream& out, const Source& source);
