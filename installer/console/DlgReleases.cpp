#include "installer/console/DlgReleases.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/console/DlgMaker.h"
#include "installer/console/DlgMessage.h"
#include "installer/console/DlgYesNo.h"
#include "installer/console/ReleasesCompatibilityChecker.h"

#include <map>

namespace {

constexpr int upgrade_mode = 2;

// The chosen releases by product id; two of one product are an internal error.
std::map<std::string, boost::shared_ptr<Release>> chosenReleases(const BuildManager& catalogue) {
    std::map<std::string, boost::shared_ptr<Release>> chosen;
    for (const boost::shared_ptr<Release>& release : catalogue.getReleases(true))
        if (release->_selected && !chosen.emplace(release->prod()->_id, release).second)
            throw internal_error("installer/DlgReleases", 32);
    return chosen;
}

} // namespace

bool DlgReleases::canContinue() {
    Messages messages;
    const std::unique_ptr<DlgMaker> maker = DlgMaker::create();
    const auto chosen = chosenReleases(*catalogue);
    if (chosen.empty()) {
        maker->message(messages.getMessage("releases_no_selected"))->run();
        return false;
    }
    for (const auto& entry : chosen) {
        const Release& release = *entry.second;
        if (release._update_mode != upgrade_mode)
            continue;
        std::string installed = catalogue->getInstalledReleaseVersion(entry.first);
        // The installed release may be one the catalogue no longer lists.
        if (installed.empty())
            installed = catalogue->getInstalledProductVersion(entry.first);
        const std::string question = messages.getMessage("releases_upgrade_request1") +
                                     release.prod()->_name + " " + installed +
                                     messages.getMessage("releases_upgrade_request2");
        if (maker->yesNoDefaultYes(question)->run() != Dialog::YES)
            return false;
    }

    Log::stream(3, true) << "DlgReleases::canContinue: ReleasesCompatibilityChecker";
    ReleasesCompatibilityChecker checker(*catalogue, *repository);
    catalogue->accept(checker);
    if (checker.isError()) {
        Log::stream(3, true) << "DlgReleases::canContinue: bwc.isError()";
        maker->message(checker.getErrorText() + "\n")->run();
        return false;
    }
    if (checker.isWarning()) {
        Log::stream(3, true) << "DlgReleases::canContinue: bwc.isWarning()";
        return maker
                   ->yesNoDefaultYes(checker.getWarningText() + "\n\n" +
                                     messages.getMessage("question_continue"))
                   ->run() == Dialog::YES;
    }
    return true;
}
