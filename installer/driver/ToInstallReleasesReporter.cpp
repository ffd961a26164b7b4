#include "installer/driver/ToInstallReleasesReporter.h"

#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"

namespace {

// One line per selected or installed release.
class BuildReporter : public BuildManager::Visitor {
public:
    explicit BuildReporter(std::ostream& out) : out(out) {}

    void visitRelease(boost::shared_ptr<Release> release) override {
        const char* status = release->_selected                ? "selected "
                             : release->isCurrentlyInstalled() ? "installed"
                                                               : "";
        if (!*status)
            return;
        const bool fits = release->isActual();
        // A release that does not fit the system has no update mode.
        out << status << " " << release->prod()->_id << " " << release->_id << " "
            << (fits ? release->getUpdateModeName() : "none") << " " << (fits ? "" : "(not installable)")
            << "\n";
    }
    void leaveRelease(boost::shared_ptr<Release>) override {}
    void visitAddon(Addon&) override {}
    void visitBuild(Build&) override {}

private:
    std::ostream& out;
};

} // namespace

ToInstallReleasesReporter::ToInstallReleasesReporter(BuildManager* catalogue)
    : Reporter(ok, ""), catalogue(catalogue) {}

std::ostream& ToInstallReleasesReporter::put(std::ostream& out) const {
    BuildReporter reporter(out);
    catalogue->accept(reporter);
    out.flush();
    return out;
}
