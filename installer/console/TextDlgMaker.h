#pragma once

#include "installer/console/DlgMaker.h"

// Makes the console dialogs.
class TextDlgMaker : public DlgMaker {
public:
    std::unique_ptr<DlgHello> hello() override;
    std::unique_ptr<DlgAdvSettings> advSettings(const std::string& source, const std::string& target,
                                                const DlgAdvSettings::Proxy& proxy) override;
    std::unique_ptr<DlgReleases> releases(BuildManager* catalogue, Repository* repository,
                                          bool showAllReleases) override;
    std::unique_ptr<DlgInstTypes> instTypes(BuildManager* catalogue, ComponentManager* manager) override;
    std::unique_ptr<DlgComponents> components(ComponentManager* manager, BuildManager* catalogue) override;
    std::unique_ptr<DlgOptions> options(ParamManager* params, Repository* repository) override;
    std::unique_ptr<DlgPackages> packages(const cpkgs_t* packages, Repository* repository) override;
    std::unique_ptr<DlgYesNo> yesNoDefaultYes(const std::string& text) override;
    std::unique_ptr<DlgYesNo> yesNoDefaultNo(const std::string& text) override;
    std::unique_ptr<DlgMessage> message(const std::string& text) override;
    std::unique_ptr<DlgPrompt> prompt(const std::string& text, const std::string& defaultAnswer) override;
};
