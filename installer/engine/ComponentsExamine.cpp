#include "installer/engine/ComponentsExamine.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/POpen.h"
#include "common/runtime/Progress.h"
#include "common/runtime/checked_pointer.h"
#include "common/runtime/error.h"
#include "common/runtime/exec.h"
#include "common/runtime/util.h"
#include "installer/catalogue/Build.h"
#include "installer/catalogue/Release.h"
#include "installer/components/ComponentManager.h"
#include "installer/sources/FileFetcher.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <sstream>

void reportProgressStep(const std::string& step, const std::string& text) {
    Progress::step(step, text);
    Log::stream(0, true) << text;
}

std::string ExamineResultFormatter::formatLine(const std::string& line) const {
    return "  " + util::rtrim(line);
}

namespace {

enum { listNone, listPre, listPost };

struct ScopeEntry {
    const char* scope;
    int list;
    // Change type it applies to; 0 for any of 1, 2 and 3.
    int changeType;
};

const ScopeEntry scopes[] = {
    {"pre_install", listPre, 1},  {"pre_upgrade", listPre, 2},   {"pre_update", listPre, 3},
    {"pre_any", listPre, 0},      {"post_install", listPost, 1}, {"post_upgrade", listPost, 2},
    {"post_update", listPost, 3}, {"post_any", listPost, 0},
};

int listFor(const std::string& scope, int changeType) {
    if (changeType < 1 || changeType > 3)
        return listNone;
    for (const ScopeEntry& entry : scopes)
        if (scope == entry.scope && (entry.changeType == 0 || entry.changeType == changeType))
            return entry.list;
    return listNone;
}

bool sameDeclaration(const BuildInfFile::examine_t& a, const BuildInfFile::examine_t& b) {
    return a.scope == b.scope && a.name == b.name && a.script == b.script && a.launcher == b.launcher &&
           a.options == b.options && a.always == b.always;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string resolvedPath(const std::string& path, const std::string& baseDir) {
    if (path.empty() || path[0] == '/')
        return path;
    return baseDir + path;
}

class GetComponentForExamine : public ComponentManager::Visitor {
public:
    explicit GetComponentForExamine(ComponentsExamine& examine) : examine(examine) {}

    void visit(const comp_ptr_t& component) override {
        const bool installing = component->isMarkedForInstall();
        if (installing || component->isMarkedForRemove())
            examine.addBuildExaminations(component->build, visited);
        if (!installing)
            return;
        for (const BuildInfFile::examine_t& examination : component->examinations)
            examine.addExamination(examination, component->getInstallMode(), component->name,
                                   component->getRelease());
    }

private:
    ComponentsExamine& examine;
    std::set<const Build*> visited;
};

} // namespace

ComponentsExamine::ComponentsExamine(const ComponentManager* components, const FileFetcher* fetcher)
    : fetcher(fetcher) {
    GetComponentForExamine collector(*this);
    // The walk only reads the tree.
    checked_pointer<ComponentManager>(const_cast<ComponentManager*>(components))->accept(collector);
}

void ComponentsExamine::addBuildExaminations(const boost::shared_ptr<Build>& build,
                                             std::set<const Build*>& visited) {
    if (!build || !visited.insert(build.get()).second)
        return;
    const boost::shared_ptr<Release> release = build->_parent;
    int changeType = 4;
    if (release) {
        switch (release->getUpdateMode()) {
        case 1:
            changeType = 1;
            break;
        case 2:
        case 3:
            changeType = 2;
            break;
        case 4:
            changeType = 3;
            break;
        default:
            break;
        }
    }
    for (const BuildInfFile::examine_t& examination : build->_examine)
        addExamination(examination, changeType, release ? release->_name : "", release);
    if (release && !build->belongsToParentRelease())
        addBuildExaminations(release->SelectBestBuild(Opsys()), visited);
}

void ComponentsExamine::addExamination(const BuildInfFile::examine_t& examination, int changeType,
                                       const std::string& context,
                                       const boost::shared_ptr<Release>& release) {
    const int list = listFor(examination.scope, changeType);
    if (list == listNone)
        return;
    examinations_t& target = list == listPre ? preList : postList;
    for (const Examination& listed : target)
        if (sameDeclaration(listed, examination))
            return;
    Examination added;
    static_cast<BuildInfFile::examine_t&>(added) = examination;
    added.context = context;
    if (release) {
        added.fromVersion = release->_installed_version;
        added.toVersion = release->_version.toString();
    }
    target.push_back(added);
    Log::stream(2, true) << "Examination added: " << added.name << ", context=\"" << added.context
                         << "\", script=" << scriptPath(added) << ", launcher=" << launcherPath(added)
                         << ", options=\"" << added.options << "\", always=" << added.always;
}

std::string ComponentsExamine::scriptPath(const BuildInfFile::examine_t& examination) {
    return resolvedPath(examination.script, examination.baseDir);
}

std::string ComponentsExamine::launcherPath(const BuildInfFile::examine_t& examination) {
    return resolvedPath(examination.launcher, examination.baseDir);
}

std::string ComponentsExamine::expandOptions(const Examination& examination, int rc) {
    std::string options = examination.options;
    replaceAll(options, "{RC}", std::to_string(rc));
    replaceAll(options, "{FROM_RELEASE_VERSION}", util::shell_quote(examination.fromVersion));
    replaceAll(options, "{TO_RELEASE_VERSION}", util::shell_quote(examination.toVersion));
    return options;
}

bool ComponentsExamine::runOne(const Examination& examination, int rc, Result& result) {
    result.name = examination.name;
    const std::string script = scriptPath(examination);
    std::string scriptLocal;
    try {
        FileFetcher files(*checked_pointer<const FileFetcher>(fetcher));
        scriptLocal = files.getFile(script);
        std::string program = scriptLocal;
        std::string arguments = expandOptions(examination, rc);
        if (!examination.launcher.empty()) {
            program = files.getFile(launcherPath(examination));
            arguments = util::shell_quote(scriptLocal) + " " + arguments;
        }
        chmod(program.c_str(), 0700);
        exec::run_command("chcon system_u:object_r:bin_t:s0 " + util::shell_quote(program), false, false,
                          nullptr, nullptr);

        const std::string command = util::shell_quote(program) + " " + arguments;
        std::ostringstream output;
        std::ostringstream errors;
        std::istringstream noInput;
        const auto started = std::chrono::steady_clock::now();
        // timeout(1) runs the script in a process group of its own and stops the whole group.
        const std::string limited = "timeout -k 10 " + std::to_string(timeoutSeconds) + " " + command;
        const int status = POpen::start(limited, &noInput, &output, &errors)->wait(false);
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
        const bool timedOut =
            code != 0 && std::chrono::steady_clock::now() - started >= std::chrono::seconds(timeoutSeconds);
        Log::stream(2, true) << "Examination executed [" << command << "] with code " << code
                             << "\n Output:\n"
                             << output.str() << "\n Error:\n"
                             << errors.str();
        if (code == 0)
            return true;
        result.output = output.str();
        result.errors = errors.str();
        if (timedOut)
            result.errors +=
                "Stopped after " + std::to_string(timeoutSeconds) + " seconds without finishing.\n";
        result.isError = code == 2 && !timedOut;
        return false;
    } catch (const error& e) {
        const std::string shown = scriptLocal.empty() ? script.substr(script.rfind('/') + 1) : scriptLocal;
        result.output.clear();
        result.errors = Messages().format("err_examine_launch_failed", shown) + "\n" + e.getText();
        result.isError = false;
        return false;
    }
}

void ComponentsExamine::runExaminations(const examinations_t& list, bool onlyAlways, int rc,
                                        results_t& results) {
    results.clear();
    for (const Examination& examination : list) {
        if (onlyAlways && !examination.always)
            continue;
        Result result;
        if (!runOne(examination, rc, result))
            results.push_back(result);
    }
}

bool ComponentsExamine::runList(const examinations_t& list, bool onlyAlways, int rc, results_t& results,
                                const char* step) {
    reportProgressStep(step, Messages().getMessage("examine_perform"));
    runExaminations(list, onlyAlways, rc, results);
    return results.empty();
}

bool ComponentsExamine::doPreExamine(bool onlyAlways) {
    if (preDone) {
        Log::stream(1, true) << "ComponentsExamine::doPreExamine: already has results";
        return preResults.empty();
    }
    if (preList.empty()) {
        Log::stream(1, true) << "ComponentsExamine::doPreExamine: no components for examination";
        return true;
    }
    const bool passed = runList(preList, onlyAlways, 0, preResults, "examine_presetup");
    preDone = true;
    return passed;
}

bool ComponentsExamine::doPostExamine(bool onlyAlways) {
    if (postDone) {
        Log::stream(1, true) << "ComponentsExamine::doPostExamine: already has results";
        return postResults.empty();
    }
    if (postList.empty()) {
        Log::stream(1, true) << "ComponentsExamine::doPostExamine: no components for examination";
        return true;
    }
    const bool passed = runList(postList, onlyAlways, 0, postResults, "examine_postsetup");
    postDone = true;
    return passed;
}

bool ComponentsExamine::doFailurePostExamine() {
    if (postDone) {
        Log::stream(1, true) << "ComponentsExamine::doFailurePostExamine: already has results";
        return true;
    }
    if (postList.empty()) {
        Log::stream(1, true) << "ComponentsExamine::doFailurePostExamine: no components for examination";
        return true;
    }
    const bool passed = runList(postList, true, 1, postResults, "examine_postsetup");
    postDone = true;
    return passed;
}

bool ComponentsExamine::hasErrors(const results_t& results) {
    for (const Result& result : results)
        if (result.isError)
            return true;
    return false;
}

std::string ComponentsExamine::formatResults(const ExamineResultFormatter& formatter,
                                             const results_t& results) {
    std::string text;
    for (const Result& result : results) {
        text += result.name + "\n";
        std::istringstream lines(result.errors);
        for (std::string line; std::getline(lines, line);)
            text += formatter.formatLine(line) + "\n";
    }
    return text;
}
