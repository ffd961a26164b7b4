#include "common/packages/Source.h"

#include "common/packages/Package.h"
#include "common/packages/Repository.h"

Source::Source(Repository* repository) : repository(repository) {
    if (repository)
        repository->registerSource(this);
}

Source::~Source() {
    if (!repository)
        return;
    repository->unregisterSource(this);
    removePackages();
}

void Source::downloadPackage(Package*) {}

bool Source::isRemote() const {
    return false;
}

std::ostream& Source::print(std::ostream& out) const {
    return out << "Package_source_" << static_cast<const void*>(this);
}

void Source::getBrief() {
    if (briefRead)
        return;
    doGetBrief();
    briefRead = true;
}

void Source::getFull() {
    if (!briefRead)
        getBrief();
    if (fullRead)
        return;
    doGetFull();
    fullRead = true;
}

void Source::reloadBrief() {
    removePackages();
    // A failed read leaves both due, so that the next getBrief or getFull reads again.
    briefRead = fullRead = false;
    doGetBrief();
    briefRead = true;
}

void Source::removePackages() {
    if (!repository)
        return;
    for (Package* package : repository->getPackages())
        if (package->getSource() == this)
            package->setType('z');
    repository->purgeRemoved();
}

std::ostream& operator<<(std::ostream& out, const Source& source) {
    return source.print(out);
}
