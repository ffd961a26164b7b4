#pragma once

#include "common/packages/PkgManager.h"
#include "installer/console/DlgAdvSettings.h"

#include <memory>
#include <string>

class BuildManager;
class ComponentManager;
class DlgComponents;
class DlgHello;
class DlgInstTypes;
class DlgMessage;
class DlgOptions;
class DlgPackages;
class DlgPrompt;
class DlgReleases;
class DlgYesNo;
class ParamManager;
class Repository;

// Makes the dialogs of one front end. Every dialog is new and owned by the caller; the pointers
// given to a dialog are not owned and must outlive it.
class DlgMaker {
public:
    // A new factory of the console dialogs; factories are not shared.
    static std::unique_ptr<DlgMaker> create();

    virtual ~DlgMaker() = default;

    virtual std::unique_ptr<DlgHello> hello() = 0;
    virtual std::unique_ptr<DlgAdvSettings> advSettings(const std::string& source, const std::string& target,
                                                        const DlgAdvSettings::Proxy& proxy) = 0;
    virtual std::unique_ptr<DlgReleases> releases(BuildManager* catalogue, Repository* repository,
                                                  bool showAllReleases) = 0;
    virtual std::unique_ptr<DlgInstTypes> instTypes(BuildManager* catalogue, ComponentManager* manager) = 0;
    virtual std::unique_ptr<DlgComponents> components(ComponentManager* manager, BuildManager* catalogue) = 0;
    virtual std::unique_ptr<DlgOptions> options(ParamManager* params, Repository* repository) = 0;
    virtual std::unique_ptr<DlgPackages> packages(const cpkgs_t* packages, Repository* repository) = 0;
    virtual std::unique_ptr<DlgYesNo> yesNoDefaultYes(const std::string& text) = 0;
    virtual std::unique_ptr<DlgYesNo> yesNoDefaultNo(const std::string& text) = 0;
    virtual std::unique_ptr<DlgMessage> message(const std::string& text) = 0;
    virtual std::unique_ptr<DlgPrompt> prompt(const std::string& text, const std::string& defaultAnswer) = 0;
};
