#include "web_ui/PageRequest.h"

#include "common/runtime/Messages.h"
#include "common/runtime/ProgramInfo.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "common/runtime/util.h"
#include "common/transport/WebUiTransport.h"
#include "web_ui/HtmlText.h"
#include "web_ui/PageReplies.h"

#include <tinyxml.h>

#include <cstring>
#include <memory>

namespace {

const char* const answer_root = "dizadizezeroz";
const char* const request_head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<request>";

std::string& unitDirectory() {
    static std::string directory;
    return directory;
}

error backendError(const std::string& text) {
    return error(error::system, 2, 1, 2) << text;
}

// The stored answer a test names with "?unit=", when unit answers are on and the file loads.
bool loadUnitAnswer(httpd_arg* arg, TiXmlDocument& document) {
    if (unitDirectory().empty())
        return false;
    const std::string unit = queryVariable(arg, "unit", 256);
    if (unit.empty() || unit.find('/') != std::string::npos || unit[0] == '.')
        return false;
    return tinybind::loadFile(document, unitDirectory() + "/" + unit);
}

// Checks the frame of a parsed answer; the status, or the catalogue key of what is wrong.
bool checkFrame(const TiXmlDocument& document, std::string& status, std::string& wrongKey) {
    const TiXmlElement* root = document.RootElement();
    if (!root)
        wrongKey = "web_err_pl_responce_no_root";
    else if (root->ValueStr() != answer_root)
        wrongKey = "web_err_pl_responce_wrong_root";
    else if (!root->Attribute("status"))
        wrongKey = "web_err_pl_responce_no_status";
    else
        status = root->Attribute("status");
    return wrongKey.empty();
}

std::string errorMessageOf(const TiXmlElement* root) {
    const char* message = root->Attribute("error_message");
    return message ? message : "Unknown error occured in backend.";
}

} // namespace

std::string requestBackend(const std::string& request) {
    // One client handle for the life of the process.
    static std::unique_ptr<WebUiTransport> transport;
    if (!transport)
        transport.reset(new WebUiTransport(WebUiTransport::client));
    return transport->sendCommand(request);
}

bool isPost(httpd_arg* arg) {
    const char* method = httpd_get_env(arg, "REQUEST_METHOD");
    return method && std::strcmp(method, "POST") == 0;
}

std::string queryVariable(httpd_arg* arg, const char* name, size_t limit) {
    const char* query = httpd_get_env(arg, "QUERY_STRING");
    if (!query)
        return std::string();
    std::string value(limit, '\0');
    const int length = httpd_get_var(name, query, std::strlen(query), &value[0], limit);
    return length < 0 ? std::string() : value.substr(0, static_cast<size_t>(length));
}

bool formVariable(httpd_arg* arg, const char* name, size_t limit, std::string& value) {
    std::string buffer(limit, '\0');
    const int length =
        httpd_get_var(name, arg->input.data, static_cast<size_t>(arg->input.size), &buffer[0], limit);
    if (length < 0)
        return false;
    value = buffer.substr(0, static_cast<size_t>(length));
    return true;
}

void enableUnitAnswers(const std::string& directory) {
    unitDirectory() = directory;
}

TiXmlElement* processPageRequest(httpd_arg* arg, TiXmlDocument& document, const std::string& getRequest,
                                 std::string& status, std::vector<std::string>& warnings,
                                 const PostBuilder& postBuilder) {
    if (!postBuilder || !isPost(arg)) {
        if (!loadUnitAnswer(arg, document)) {
            document.Clear();
            document.Parse(requestBackend(getRequest).c_str());
        }
    } else {
        const std::string answer = postBuilder(arg);
        std::string errorText;
        if (!parseBackendAnswer(answer, errorText, status))
            throw backendError(errorText);
        if (status == "ok") {
            page_replies::redirectToCurrentPage(arg);
            status = "redirect";
            return nullptr;
        }
        if (status == "bad_values")
            warnings.push_back(Messages().getMessage("web_bad_fields_values"));
        document.Clear();
        document.Parse(answer.c_str());
    }
    std::string wrongKey;
    if (!checkFrame(document, status, wrongKey))
        throw backendError(Messages().getMessage(wrongKey));
    TiXmlElement* root = document.RootElement();
    for (TiXmlElement* warning = root->FirstChildElement("warning"); warning;
         warning = warning->NextSiblingElement("warning"))
        warnings.push_back(tinybind::Element(warning).text(true));
    if (status == "ok" || status == "warning" || status == "bad_values")
        return root->FirstChildElement();
    if (status == "error")
        throw backendError(errorMessageOf(root));
    if (status == "bad_page")
        page_replies::redirectToCurrentPage(arg);
    return nullptr;
}

bool parseBackendAnswer(const std::string& answer, std::string& errorText, std::string& status) {
    TiXmlDocument document;
    document.Parse(answer.c_str());
    std::string wrongKey;
    if (!checkFrame(document, status, wrongKey)) {
        errorText = Messages().getMessage(wrongKey);
        return false;
    }
    if (status == "ok" || status == "warning" || status == "bad_values" || status == "bad_page")
        return true;
    errorText = errorMessageOf(document.RootElement());
    return false;
}

std::string currentPageUrl() {
    static const std::pair<const char*, const char*> urls[] = {
        {"summary", "/summary.html"},
        {"releases", "/iup.html"},
        {"installation-types", "/installation_types.html"},
        {"components", "/select_components.html"},
        {"examine", "/examine.html"},
        {"params", "/cp.html"},
        {"installation", "/install_progress.html"},
        {"update_components", "/update_components.html"},
    };
    TiXmlDocument document;
    document.Parse(
        requestBackend(std::string(request_head) + "  <command value=\"get_current_page\" /></request>")
            .c_str());
    const TiXmlElement* root = document.RootElement();
    const char* status = root ? root->Attribute("status") : nullptr;
    if (!root || root->ValueStr() != answer_root || !status || std::strcmp(status, "ok") != 0)
        return "/summary.html";
    const TiXmlElement* page = root->FirstChildElement("page");
    const char* id = page ? page->Attribute("id") : nullptr;
    for (const auto& entry : urls)
        if (id && std::strcmp(id, entry.first) == 0)
            return entry.second;
    return "/summary.html";
}

void setLocale(const std::string& name) {
    TiXmlElement locale("locale");
    locale.SetAttribute("name", name);
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    locale.Accept(&printer);
    requestBackend(std::string(request_head) + "  <command value=\"set_locale\" />  " + printer.CStr() +
                   "</request>");
    Messages::setLocale(name);
}

void setLocaleFromQuery(httpd_arg* arg) {
    const std::string locale = queryVariable(arg, "locale", 20);
    if (!locale.empty())
        setLocale(locale);
}

void renderMessages(TemplateVariables& variables, const std::vector<std::string>& warnings,
                    const std::string& errorText) {
    std::string& out = variables["error_message"];
    if (!errorText.empty()) {
        out += "\t<div class=\"msg-error\">" + html_text::escapeHtml(errorText) + "\t</div>\n";
        return;
    }
    for (const std::string& warning : warnings) {
        if (warning.empty())
            continue;
        const size_t first = warning.find_first_not_of(" \t\n\r");
        const bool markup = first != std::string::npos && warning[first] == '<';
        out += "\t<div class=\"msg-warning\">" +
               html_text::linkifyUrls(markup ? warning : util::nl2br(warning)) + "\t</div>\n";
    }
}

void languageSelector(std::string& out, bool withSubmit) {
    const auto languages = Messages::getLanguages();
    if (languages.empty())
        return;
    const std::string current = Messages::getLocale().substr(0, Messages::getLocale().find('.'));
    out = "<select name=\"login_locale\"";
    if (withSubmit)
        out += " onChange=\"submit()\"";
    out += ">\n";
    for (const auto& language : languages)
        out += "        <option value=\"" + html_text::escapeHtml(language.first) + "\"" +
               (language.first == current ? " selected" : "") + ">" + html_text::escapeHtml(language.second) +
               "</option>\n";
    out += "    </select>";
}

void setVersionVariable(TemplateVariables& variables) {
    variables["ai_version"] = program_info::version;
}

void selfUpgradeAutoRefresh(std::string& out) {
    Messages messages;
    out += "<p style=\"text-align: center;\">";
    out += messages.getMessage("web_selfupgrade_autorefresh1");
    out += "<a href=\"/?locale=" + html_text::escapeHtml(Messages::getLocale()) + "\">";
    out += messages.getMessage("web_selfupgrade_autorefresh2");
    out += "</a>";
    out += messages.getMessage("web_selfupgrade_autorefresh3");
    out += "</p>\n";
}

std::string attributeOrEmpty(const TiXmlElement* element, const char* name) {
    const char* value = element ? element->Attribute(name) : nullptr;
    return value ? value : "";
}

bool attributeIsTrue(const TiXmlElement* element, const char* name) {
    return attributeOrEmpty(element, name) == "true";
}
