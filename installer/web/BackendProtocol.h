#pragma once

#include "common/runtime/tinybind.h"
#include "installer/components/AiComponent.h"
#include "installer/components/ParamManager.h"
#include "installer/sources/Downloader.h"
#include "installer/web/ComponentSelection.h"
#include "installer/web/PreferencesRecord.h"
#include "installer/web/ProductIconRequest.h"
#include "installer/web/ProductSelection.h"

#include <boost/shared_ptr.hpp>

class BuildManager;
class ComponentManager;
class ComponentsChangeset;
class ComponentsExamine;
class InstTypes;
class Release;
struct BestWithInfo;

#include <memory>
#include <string>
#include <vector>

class TiXmlDocument;
class TiXmlElement;

// The answer document the web back end builds for one request: its status, its error attributes,
// the page ids and the warnings that wait for an answer able to carry them. The writers and
// parsers of each command family add the elements of their commands.
class BackendProtocol {
public:
    explicit BackendProtocol(bool releaseOwnName);
    BackendProtocol(const BackendProtocol&) = delete;
    BackendProtocol& operator=(const BackendProtocol&) = delete;
    ~BackendProtocol();

    // A new answer with status "ok"; pending warnings are kept.
    void reset();
    // Flushes the pending warnings into the answer and returns it.
    const TiXmlDocument& getAnswer();
    TiXmlElement& getRoot();

    void sendOk();
    void sendError(const std::string& text, const std::string& className);
    void sendWarning(const std::string& text);
    void addWarning(const std::string& text);
    void sendPage(const std::string& pageId);
    void sendBadPage(const std::string& currentPageId);
    void sendPrepareSelfUpgrade();
    void sendStartSelfUpgrade();

    void flushWarnings();
    bool answerTakesWarnings();

    // ---- Command-family writers and parsers: releases, preferences, locale, progress, log, icon;
    // ---- components; settings and examination. Each family lives in BackendProtocol<Family>.cpp.

    // ---- Command families: releases, preferences, locale, progress, log and product icon ----
    // Appends "products": every release of the catalogue that this system can install, grouped by
    // product as the catalogue lists them; the installation types go under the selected releases.
    void sendReleases(const BuildManager& catalogue, const InstTypes* types);
    void appendReleaseInstallTypes(TiXmlElement* release, const boost::shared_ptr<Release>& record,
                                   const InstTypes* types);
    // Status "warning" and "bestwith_info".
    void sendBestwithInfo(const std::vector<BestWithInfo>& infos);
    // Stores the feedback decision when the request carries one.
    std::vector<ProductSelection> parseProductSelection(const tinybind::Element& request);
    // The proxy password is never written, only whether one is set.
    void sendPreferences(const std::string& source, bool locked, const std::string& target,
                         const Downloader::Proxy& proxy);
    // False for an empty or unknown source type: the answer then says "bad_values" and carries the
    // annotated preferences. An empty proxy password keeps the stored one; use="false" clears the proxy.
    bool parsePreferences(PreferencesRecord& record, const tinybind::Element& preferences);
    std::string parseSetLocale(const tinybind::Element& request);
    // Appends "products" with the progress of each release, then "console".
    void sendProgress(const std::string& console, bool finished, bool succeeded,
                      const BuildManager& catalogue);
    long parseGetLog(const tinybind::Element& request);
    void sendLog(const std::string& text);
    ProductIconRequest parseGetProductIcon(const tinybind::Element& request);
    // "data" with the bytes in base64, 76 characters to a line.
    void sendData(const std::vector<char>& bytes);

    // ---- Command families: components ----
    class ComponentSender;
    // A null changeset stands for the process-wide one.
    void sendComponents(ComponentManager* components, const std::vector<std::string>& excluded,
                        ComponentsChangeset* changeset);
    std::vector<ComponentSelection> parseComponentSelection(const tinybind::Element& request);
    // True when the request answers the old-patch question; confirm is then set.
    bool parseConfirmReinstallOldPatch(const tinybind::Element& request, bool& confirm);
    // Status "warning" and "dependencies_info" with the implicit changes and the conflicts.
    void sendComponentsDependenciesInfo(ComponentManager* components, const ComponentsChangeset& changeset);
    static void appendComponentElement(TiXmlElement& parent, const std::string& type,
                                       const comp_cptr_t& component);
    void sendConfirmReinstallOldPatch(bool needsConfirm);

    // ---- Command families: settings and examination ----
    class ParamSender;
    void sendComponentParams(ParamManager* settings);
    // The element that takes the setting's element: under its product, its component when it has
    // only one, then down the sender's path stack.
    TiXmlElement* sendComponentSettingsProduct(ParamSender& sender, const param_ptr_t& param);
    ParamManager::values_t parseComponentParams(const tinybind::Element& request);
    void sendPreExamine(const ComponentsExamine& examine);
    // The "ignore" flag; when false the examination results are answered again with status "warning".
    bool parsePreExamine(const tinybind::Element& request, const ComponentsExamine& examine);

private:
    void setStatus(const std::string& status);
    std::string status();

    std::unique_ptr<TiXmlDocument> answer;
    std::vector<std::string> pendingWarnings;
    bool releaseOwnName;
};
