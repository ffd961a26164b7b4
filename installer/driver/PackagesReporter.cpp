#include "installer/driver/PackagesReporter.h"

#include "common/packages/Dependency.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Messages.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <iomanip>

namespace {

// Counters of one XML group; byte totals are 64-bit, as a plan may exceed 4 GiB.
struct Group {
    explicit Group(const char* name) : element(name) {}
    TiXmlElement element;
    int64_t installs = 0;
    int64_t upgrades = 0;
    int64_t bytes = 0;
};

bool planHasName(const std::vector<const Package*>& plan, const Package* package) {
    return std::any_of(plan.begin(), plan.end(),
                       [&](const Package* p) { return p->getName() == package->getName(); });
}

} // namespace

PackagesReporter::PackagesReporter(const std::vector<const Package*>& plan, const Repository* repository,
                                   bool xml)
    : Reporter(ok, ""), plan(plan), repository(repository), xml(xml) {}

std::vector<PackagesReporter::entry_t> PackagesReporter::entries() const {
    const Repository& packages = *repository;
    std::vector<entry_t> list;
    for (const Package* package : plan) {
        if (package->getType() == 'd' && package->getObsolete(0)) {
            if (const Package* installed =
                    packages.findInstalled(PooledString(package->getObsolete(0)->getName())))
                list.emplace_back(installed, remove);
            continue;
        }
        list.emplace_back(package, packages.findInstalled(package->getName()) ? upgrade : install);
    }
    for (const Package* package : plan)
        for (const Package* obsoleted : packages.getObsoletes(package))
            // One line per removed package, however many plan packages take it out.
            if (obsoleted->getType() == 's' && !planHasName(plan, obsoleted) &&
                std::find(list.begin(), list.end(), entry_t(obsoleted, remove)) == list.end())
                list.emplace_back(obsoleted, remove);
    std::stable_sort(list.begin(), list.end(), [](const entry_t& a, const entry_t& b) {
        if (a.second != b.second)
            return a.second < b.second;
        return std::strcmp(a.first->getName().c_str(), b.first->getName().c_str()) < 0;
    });
    return list;
}

std::ostream& PackagesReporter::put(std::ostream& out) const {
    if (xml)
        putXml(out);
    else
        putText(out);
    return out;
}

void PackagesReporter::putText(std::ostream& out) const {
    static const char* const marks[] = {". [I] ", ". [U] ", ". [R] "};
    int number = 0;
    for (const entry_t& entry : entries()) {
        if (entry.second == install && entry.first->getType() == 'd')
            continue;
        out << std::setw(3) << ++number << marks[entry.second];
        entry.first->print(out) << "\n";
    }
    if (number == 0)
        out << Messages().getMessage("packages_no_reqpackages") << "\n";
    out.flush();
}

void PackagesReporter::putXml(std::ostream& out) const {
    Group system("system_packages"), build("build_packages");
    for (const entry_t& entry : entries()) {
        const Package& package = *entry.first;
        Group* group = package.getType() == 'b' ? &build : package.getType() == 'u' ? &system : nullptr;
        if (!group || entry.second == remove)
            continue;
        TiXmlElement element("package");
        element.SetAttribute("action", entry.second == install ? "install" : "upgrade");
        element.SetAttribute("name", package.getName().c_str());
        element.SetAttribute("version",
                             package.hasVersion() ? package.getVersion().getVersionWithEpoch() : "");
        element.SetAttribute("release", package.hasVersion() ? package.getVersion().release : "");
        element.SetAttribute("arch", package.getArch().c_str());
        element.SetAttribute("size", std::to_string(package.getSize()));
        group->element.InsertEndChild(element);
        ++(entry.second == install ? group->installs : group->upgrades);
        group->bytes += package.getSize();
    }
    TiXmlElement packages("packages");
    for (Group* group : {&system, &build}) {
        group->element.SetAttribute("install_num", std::to_string(group->installs));
        group->element.SetAttribute("upgrade_num", std::to_string(group->upgrades));
        group->element.SetAttribute("remove_num", "0");
        group->element.SetAttribute("bytes", std::to_string(group->bytes));
    }
    TiXmlElement kernel("kernel_packages");
    kernel.SetAttribute("install_num", "0");
    kernel.SetAttribute("bytes", "0");
    packages.InsertEndChild(system.element);
    packages.InsertEndChild(kernel);
    packages.InsertEndChild(build.element);
    printXml(out, &packages);
}
