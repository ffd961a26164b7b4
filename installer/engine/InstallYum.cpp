#include "installer/engine/InstallYum.h"

#include "common/packages/ExtCatalogPackage.h"
#include "common/packages/Package.h"
#include "common/packages/Repository.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"
#include "installer/catalogue/ProductsProgress.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"
#include "installer/driver/ReportError.h"
#include "installer/engine/YumConfigurator.h"

#include <sstream>

namespace {

const char* const unit = "installer/InstallYum";

YumConfigurator* yumConfiguratorOf(SystemSpecificConfigurator* configurator) {
    auto* yum = dynamic_cast<YumConfigurator*>(configurator);
    if (!yum)
        throw internal_error(unit, 122);
    return yum;
}

} // namespace

InstallYum::InstallYum(Repository* repository, ComponentManager* componentManager,
                       SystemSpecificConfigurator* configurator, StageActions& stages)
    : Installer(repository, componentManager, configurator, stages),
      yumConfigurator(yumConfiguratorOf(configurator)) {}

InstallYum::Specs InstallYum::collectPackageSpecs(const cpkgs_t& list) const {
    Specs specs;
    for (const Package* package : list) {
        if (dynamic_cast<const ExtCatalogPackage*>(package))
            continue;
        if (isRemoverPackage(package)) {
            const std::string name = package->getObsolete(0)->getName();
            if (!dynamic_cast<const ExtCatalogPackage*>(repository->findInstalled(PooledString(name))))
                specs.remove.insert(name);
            continue;
        }
        const std::string arch = package->getArch().str();
        specs.install.insert(package->getName().str() + (arch.empty() ? "" : "@" + arch));
    }
    return specs;
}

std::string InstallYum::buildHelperCommand(const std::string& mode, const Specs& specs) const {
    std::string command = util::shell_quote(YumConfigurator::getHelperPath());
    for (const std::string& id : yumConfigurator->getEnabledIds())
        command += " -e " + util::shell_quote(id);
    command += " " + mode + " -l " + util::shell_quote(Log::get_file_name());
    if (Options::instance().debug)
        command += " -v";
    for (const std::string& spec : specs.install)
        command += " -i " + util::shell_quote(spec);
    for (const std::string& name : specs.remove)
        command += " -r " + util::shell_quote(name);
    return command + " --tries=" + std::to_string(Options::instance().downloadRetryCount);
}

const cpkgs_t& InstallYum::resolveDependencies() {
    componentManager->getBootstrapperPackagesToInstall(bootstrapperPackages, repository.get());
    packages.insert(packages.end(), bootstrapperPackages.begin(), bootstrapperPackages.end());
    componentManager->getPackagesToInstall(packages, repository.get(), configurator);

    Specs specs = collectPackageSpecs(packages);
    const std::string command = buildHelperCommand("-s", specs);
    std::ostringstream output;
    std::ostringstream errors;
    int code = -1;
    try {
        code = exec::run_command(command, true, false, &output, &errors);
        if (code == 2)
            throw error(error::packages, 1, 1, 2) << Messages().getMessage("err_yum_no_repos");
        if (code != 0)
            throw error(error::packages, 1, 3, 3) << Messages().getMessage("err_pkginst_yum");
    } catch (const error& failure) {
        ReportError::Stream(-1) << "Yum failed to resolve packages:" << std::endl
                                << "Error: " << failure.getText() << std::endl
                                << "Command line: " << command << std::endl
                                << "Input:\n"
                                << std::endl
                                << "Output:\n"
                                << output.str() << errors.str() << std::endl;
        throw;
    }
    std::istringstream lines(output.str());
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 2, "- ") == 0)
            specs.remove.insert(line.substr(2));
    for (const std::string& name : specs.remove) {
        Package* remover = repository->addRemoverFor(name);
        Log::stream(2, true) << "  add to remove list " << *remover;
        packages.push_back(remover);
    }
    return packages;
}

void InstallYum::installPackages(const cpkgs_t& list) {
    const Specs specs = collectPackageSpecs(list);
    if (specs.install.empty() && specs.remove.empty())
        return;
    const std::string command = buildHelperCommand("-p", specs);
    std::ostringstream output;
    try {
        if (ProductsProgress* progress = ProductsProgress::instance())
            progress->set_started();
        if (exec::run_command(command, true, false, &output, &output) != 0)
            throw error(error::packages, 1, 3, 3) << Messages().getMessage("err_pkginst_yum");
    } catch (error& failure) {
        failure.addLine(error::system, 1, 1, 2) << Messages().getMessage("err_pkginst_yum_exec");
        ReportError::Stream(-1) << "Yum failed to install packages:" << std::endl
                                << "Error: " << failure.getText() << std::endl
                                << "Command line: " << command << std::endl
                                << "Output:\n"
                                << output.str() << std::endl;
        throw;
    }
}
