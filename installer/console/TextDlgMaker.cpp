#include "installer/console/TextDlgMaker.h"

#include "installer/console/TextDlgAdvSettings.h"
#include "installer/console/TextDlgComponents.h"
#include "installer/console/TextDlgHello.h"
#include "installer/console/TextDlgInstTypes.h"
#include "installer/console/TextDlgMessage.h"
#include "installer/console/TextDlgOptions.h"
#include "installer/console/TextDlgPackages.h"
#include "installer/console/TextDlgPrompt.h"
#include "installer/console/TextDlgReleases.h"
#include "installer/console/TextDlgYesNo.h"

std::unique_ptr<DlgHello> TextDlgMaker::hello() {
    return std::make_unique<TextDlgHello>();
}

std::unique_ptr<DlgAdvSettings> TextDlgMaker::advSettings(const std::string& source,
                                                          const std::string& target,
                                                          const DlgAdvSettings::Proxy& proxy) {
    return std::make_unique<TextDlgAdvSettings>(source, target, proxy);
}

std::unique_ptr<DlgReleases> TextDlgMaker::releases(BuildManager* catalogue, Repository* repository,
                                                    bool showAllReleases) {
    return std::make_unique<TextDlgReleases>(catalogue, repository, showAllReleases);
}

std::unique_ptr<DlgInstTypes> TextDlgMaker::instTypes(BuildManager* catalogue, ComponentManager* manager) {
    return std::make_unique<TextDlgInstTypes>(catalogue, manager);
}

std::unique_ptr<DlgComponents> TextDlgMaker::components(ComponentManager* manager, BuildManager* catalogue) {
    return std::make_unique<TextDlgComponents>(manager, catalogue);
}

std::unique_ptr<DlgOptions> TextDlgMaker::options(ParamManager* params, Repository* repository) {
    return std::make_unique<TextDlgOptions>(params, repository);
}

std::unique_ptr<DlgPackages> TextDlgMaker::packages(const cpkgs_t* packages, Repository* repository) {
    return std::make_unique<TextDlgPackages>(packages, repository);
}

std::unique_ptr<DlgYesNo> TextDlgMaker::yesNoDefaultYes(const std::string& text) {
    return std::make_unique<TextDlgYesNo>(text, true);
}

std::unique_ptr<DlgYesNo> TextDlgMaker::yesNoDefaultNo(const std::string& text) {
    return std::make_unique<TextDlgYesNo>(text, false);
}

std::unique_ptr<DlgMessage> TextDlgMaker::message(const std::string& text) {
    return std::make_unique<TextDlgMessage>(text);
}

std::unique_ptr<DlgPrompt> TextDlgMaker::prompt(const std::string& text, const std::string& defaultAnswer) {
    return std::make_unique<TextDlgPrompt>(text, defaultAnswer);
}
