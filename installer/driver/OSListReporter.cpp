#include "installer/driver/OSListReporter.h"

#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Release.h"
#include "installer/driver/Options.h"

#include <iomanip>

OSListReporter::OSListReporter(BuildManager* catalogue) : Reporter(ok, ""), catalogue(catalogue) {}

std::ostream& OSListReporter::put(std::ostream& out) const {
    if (Options::enableXmlOutput)
        throw error(error::user, 1, 1, 2) << Messages().getMessage("err_src_xmlblist");
    for (const boost::shared_ptr<Release>& release : catalogue->getReleases(true)) {
        if (!release->_selected)
            continue;
        for (const boost::shared_ptr<Build>& build : release->_builds) {
            const std::string::size_type slash = build->_config.rfind('/');
            out << std::right << std::setw(15) << build->_os_vendor + build->_os_version + ": "
                << build->_config.substr(slash == std::string::npos ? 0 : slash + 1) << "\n";
        }
    }
    out.flush();
    return out;
}
