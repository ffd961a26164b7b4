#include "installer/web/BackendProtocol.h"

#include "common/runtime/Log.h"
#include "common/runtime/error.h"

#include <tinyxml.h>

#include <set>

namespace {

const char* const unit = "installer/BackendProtocol";

} // namespace

BackendProtocol::BackendProtocol(bool releaseOwnName) : releaseOwnName(releaseOwnName) {}

BackendProtocol::~BackendProtocol() = default;

void BackendProtocol::reset() {
    auto fresh = std::make_unique<TiXmlDocument>();
    fresh->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", "yes"));
    auto* root = new TiXmlElement("dizadizezeroz");
    root->SetAttribute("status", "ok");
    fresh->LinkEndChild(root);
    answer = std::move(fresh);
}

const TiXmlDocument& BackendProtocol::getAnswer() {
    if (!answer)
        throw internal_error(unit, __LINE__);
    flushWarnings();
    return *answer;
}

TiXmlElement& BackendProtocol::getRoot() {
    TiXmlElement* root = answer ? answer->RootElement() : nullptr;
    if (!root)
        throw internal_error(unit, __LINE__);
    return *root;
}

void BackendProtocol::sendOk() {}

void BackendProtocol::sendError(const std::string& text, const std::string& className) {
    Log::stream(3, true) << "BackendProtocol::sendError: " << text;
    TiXmlElement& root = getRoot();
    root.SetAttribute("status", "error");
    root.SetAttribute("error_message", text);
    root.SetAttribute("error_class", className);
}

void BackendProtocol::sendWarning(const std::string& text) {
    if (!answer)
        throw internal_error(unit, __LINE__);
    addWarning(text);
}

void BackendProtocol::addWarning(const std::string& text) {
    pendingWarnings.push_back(text);
}

void BackendProtocol::sendPage(const std::string& pageId) {
    TiXmlElement& root = getRoot();
    auto* page = new TiXmlElement("page");
    page->SetAttribute("id", pageId);
    root.LinkEndChild(page);
}

void BackendProtocol::sendBadPage(const std::string& currentPageId) {
    setStatus("bad_page");
    sendPage(currentPageId);
}

void BackendProtocol::sendPrepareSelfUpgrade() {
    setStatus("prepare_self_upgrade");
}

void BackendProtocol::sendStartSelfUpgrade() {
    setStatus("start_self_upgrade");
}

void BackendProtocol::flushWarnings() {
    if (pendingWarnings.empty())
        return;
    const std::string current = status();
    if ((current != "ok" && current != "warning") || !answerTakesWarnings())
        return;
    TiXmlElement& root = getRoot();
    for (const std::string& text : pendingWarnings) {
        auto* warning = new TiXmlElement("warning");
        warning->LinkEndChild(new TiXmlText(text));
        root.LinkEndChild(warning);
    }
    pendingWarnings.clear();
    setStatus("warning");
}

// Pages, data and logs are read by code that expects nothing else in the answer.
bool BackendProtocol::answerTakesWarnings() {
    static const std::set<std::string> refusing = {"", "page", "data", "log"};
    const TiXmlElement* first = getRoot().FirstChildElement();
    return refusing.count(first ? first->ValueStr() : std::string()) == 0;
}

void BackendProtocol::setStatus(const std::string& value) {
    getRoot().SetAttribute("status", value);
}

std::string BackendProtocol::status() {
    const char* value = getRoot().Attribute("status");
    return value ? value : "";
}
