#pragma once

#include "common/packages/PkgManager.h"
#include "installer/console/DlgInstTypes.h"
#include "installer/driver/auto_configurator.h"

#include <boost/shared_ptr.hpp>

#include <memory>
#include <set>
#include <string>
#include <vector>

class BuildManager;
class ComponentManager;
class ComponentsExamine;
class DlgAdvSettings;
class DlgComponents;
class DlgHello;
class DlgMaker;
class error;
class DlgReleases;
class FileFetcher;
class Installer;
class MicroUpdateManager;
class Options;
class ParamManager;
class ProductInf3FileGuard;
class Repository;
class RunStageActions;
class SourceManager;

namespace driver {

// The console wizard: eight pages walked forward and back by the results of their dialogs, building
// between them the same objects as the command line and rebuilding the later ones whenever an
// earlier choice changes. Pages: 1 welcome, 2 releases, 3 component tree, 4 installation types,
// 5 components, 6 component settings, 7 packages, 8 installation.
class ConsoleWizard {
public:
    // The dialogs come from `maker`, which must outlive the wizard.
    ConsoleWizard(DlgMaker& maker, const Options& options);
    ConsoleWizard(const ConsoleWizard&) = delete;
    ConsoleWizard& operator=(const ConsoleWizard&) = delete;
    ~ConsoleWizard();

    // Returns after an installation or when the user quits; failures leave as exceptions.
    void run();

private:
    // Each page takes the result of the page before and answers its own; a page with nothing to
    // show answers the result it was given, so that it is passed in the direction of travel.
    int showPage(int page, int result);
    int welcomePage(int result);
    int releasesPage(int result);
    int componentTreePage(int result);
    int installationTypesPage(int result);
    int componentsPage(int result);
    int settingsPage(int result);
    int packagesPage(int result);
    int installationPage();

    // What follows the components page's choice: repositories, checks, the package plan and the
    // questions about it. Answers the page's result.
    int planPackages(int result);
    // Asks about the failed checks; raises when the user stops.
    void confirmPreExamination();
    int confirmOldPatch(int result);
    int confirmImplicitChanges(int result);

    void loadCatalogue();
    // Continues a run handed over by an older installer with the releases of the settings.
    void startWithSelectedReleases();
    void createReleasesDialog();
    // Destroys the objects built from the release selection, newest first.
    void dropTree();
    // The products of the selected releases that are not upgrades.
    std::set<std::string> installableProducts() const;
    int ask(bool defaultYes, const std::string& text);
    void tell(const std::string& text);
    // Whether the error may be survived by starting again at the releases page.
    bool offerRestart(const error& failure);

    DlgMaker& maker;
    const Options& options;
    int reached = 0;

    std::vector<std::string> selectedReleaseIds;
    std::vector<DlgInstTypes::Selection> chosenTypes;
    std::vector<std::string> selectedComponents;
    std::set<std::string> offeredProducts;
    bool stickyCustomize = false;

    std::unique_ptr<Repository> repository;
    std::unique_ptr<FileFetcher> fetcher;
    std::unique_ptr<BuildManager> catalogue;
    std::unique_ptr<ComponentManager> components;
    std::unique_ptr<SourceManager> sources;
    std::unique_ptr<ParamManager> params;
    std::unique_ptr<MicroUpdateManager> patches;
    std::vector<boost::shared_ptr<ProductInf3FileGuard>> fileGuards;
    // Goes before the objects it works with.
    auto_configurator configurator;
    std::unique_ptr<ComponentsExamine> examinations;
    std::unique_ptr<RunStageActions> stages;
    std::shared_ptr<Installer> installer;
    const cpkgs_t* plan = nullptr;

    std::unique_ptr<DlgHello> helloDialog;
    std::unique_ptr<DlgAdvSettings> settingsDialog;
    std::unique_ptr<DlgReleases> releasesDialog;
    std::unique_ptr<DlgInstTypes> instTypesDialog;
    std::unique_ptr<DlgComponents> componentsDialog;
};

// Run mode 0: the console wizard with the console dialogs.
void work_interactive();

} // namespace driver
