#pragma once

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

private:
    void setStatus(const std::string& status);
    std::string status();

    std::unique_ptr<TiXmlDocument> answer;
    std::vector<std::string> pendingWarnings;
    bool releaseOwnName;
};
