#include "installer/driver/TimeReport.h"

#include "common/packages/Version.h"
#include "common/runtime/Log.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "common/runtime/tinybind.h"
#include "installer/catalogue/BuildManager.h"
#include "installer/catalogue/Product.h"
#include "installer/catalogue/Release.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ComponentManager.h"
#include "installer/driver/Options.h"

#include <tinyxml.h>

#include <algorithm>
#include <stdexcept>

namespace {

std::string localStamp() {
    const std::time_t now = std::time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local))
        throw std::runtime_error("could not convert calendar time to local time");
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &local);
    return text;
}

bool readsAsHistory(TiXmlDocument& document, const std::string& path) {
    try {
        return fileops::is_file(path) && tinybind::loadFile(document, path) &&
               document.FirstChildElement("reports");
    } catch (const tinybind::err&) {
        // Nested too deep to be read safely.
        return false;
    }
}

// The existing history, or a new document when there is none that reads.
void loadHistory(TiXmlDocument& document, const std::string& path) {
    if (readsAsHistory(document, path))
        return;
    document.Clear();
    document.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", "yes"));
    document.InsertEndChild(TiXmlElement("reports"));
}

// Leaves room for one more action by dropping the oldest ones.
void dropOldest(TiXmlElement& reports) {
    size_t count = 0;
    for (const TiXmlElement* action = reports.FirstChildElement("action"); action;
         action = action->NextSiblingElement("action"))
        ++count;
    while (count-- >= TimeReport::maxActions)
        reports.RemoveChild(reports.FirstChildElement("action"));
}

} // namespace

TimeReport::TimeReport() : start(std::time(nullptr)) {}

void TimeReport::report(BuildManager* catalogue, ComponentManager* tree, bool success) {
    duration = int64_t(std::time(nullptr) - start);
    status = success ? "success" : "failed";
    try {
        collect(catalogue, tree);
        save();
    } catch (const std::exception& e) {
        Log::stream(2, true) << "Unable to save time statistics to file - " << e.what();
    } catch (const error& e) {
        Log::stream(2, true) << "Unable to save time statistics to file - " << e.getText();
    } catch (...) {
        Log::stream(2, true) << "Unable to save time statistics to log file: unexpected error";
    }
}

void TimeReport::collect(BuildManager* catalogue, ComponentManager* tree) {
    class BuildReporter : public BuildManager::Visitor {
    public:
        explicit BuildReporter(std::vector<release_t>& releases) : releases(releases) {}
        void visitRelease(boost::shared_ptr<Release> release) override {
            if (release->prod()->_id != Options::defaultProductId)
                return;
            if (release->_selected || release->isCurrentlyInstalled())
                releases.push_back({release->_id, release->getActionName(), release->getUpdateMode()});
        }
        void leaveRelease(boost::shared_ptr<Release>) override {}
        void visitAddon(Addon&) override {}
        void visitBuild(Build&) override {}

    private:
        std::vector<release_t>& releases;
    };
    class ComponentReporter : public ComponentManager::Visitor {
    public:
        explicit ComponentReporter(std::vector<component_t>& components) : components(components) {}
        void visit(const comp_ptr_t& component) override {
            if (component->isMarkedForRemove())
                components.push_back({component->getFullName(), "R", "", ""});
            else if (component->isMarkedForInstall() && component->isInstalled())
                components.push_back({component->getFullName(), "U", component->installedVersion,
                                      component->availableVersion});
            else if (component->isMarkedForInstall())
                components.push_back({component->getFullName(), "I", "", ""});
        }

    private:
        std::vector<component_t>& components;
    };

    releases.clear();
    components.clear();
    BuildReporter buildReporter(releases);
    catalogue->accept(buildReporter);
    if (tree) {
        ComponentReporter componentReporter(components);
        tree->accept(componentReporter);
    }
}

void TimeReport::save() {
    TiXmlElement action("action");
    action.SetAttribute("version", "1.0.0");
    action.SetAttribute("timestamp", localStamp());
    action.SetAttribute("duration", std::to_string(duration));
    action.SetAttribute("status", status);

    std::sort(releases.begin(), releases.end(), [](const release_t& a, const release_t& b) {
        return Version(a.id).compare(Version(b.id)) > 0;
    });
    TiXmlElement release("release");
    if (!components.empty()) {
        if (releases.size() == 1 && releases[0].updateMode == 1) {
            release.SetAttribute("version", "");
            release.SetAttribute("new_version", releases[0].id);
        } else if (releases.size() == 1) {
            release.SetAttribute("version", releases[0].id);
        } else if (releases.size() == 2) {
            release.SetAttribute("version", releases[1].id);
            release.SetAttribute("new_version", releases[0].id);
        } else {
            throw std::runtime_error("unexpected releases quantity");
        }
        release.SetAttribute("mode", releases[0].action == "up2date" ? "update" : releases[0].action);
    } else {
        release.SetAttribute("version", releases.at(0).id);
        release.SetAttribute("mode", "mu_install");
    }
    TiXmlElement list("components");
    for (const component_t& component : components) {
        TiXmlElement entry("component");
        entry.SetAttribute("name", component.name);
        entry.SetAttribute("mode", component.mode);
        if (component.mode == "U") {
            entry.SetAttribute("from", component.from);
            entry.SetAttribute("to", component.to);
        }
        list.InsertEndChild(entry);
    }
    action.InsertEndChild(release);
    action.InsertEndChild(list);

    if (!fileops::is_directory(directory)) {
        Log::stream(2, true) << "Unable to save time statistics: missed directory " << directory;
        return;
    }
    const std::string path = std::string(directory) + "/" + fileName;
    TiXmlDocument document;
    loadHistory(document, path);
    TiXmlElement* reports = document.FirstChildElement("reports");
    dropOldest(*reports);
    reports->InsertEndChild(action);

    // A run killed while saving leaves the old file, never half of a new one.
    TiXmlPrinter printer;
    document.Accept(&printer);
    fileops::write_file(path, printer.Str(), 0644, true);
}
