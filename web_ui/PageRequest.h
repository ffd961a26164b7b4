#pragma once

#include "httpd/tarvik.h"
#include "web_ui/HtmlTemplate.h"

#include <functional>
#include <string>
#include <vector>

class TiXmlDocument;
class TiXmlElement;

// One page's exchange with the back end, and the pieces every page shows.

// Sends one request document to the back end and returns its answer text.
std::string requestBackend(const std::string& request);

// Reads the page's form, sends its request and returns the answer text.
using PostBuilder = std::function<std::string(httpd_arg*)>;

// The request cycle of a page: the answer element the page reads from, or null when there is none
// (a redirect is then already written when status is "redirect" or "bad_page"). Back-end failures
// raise `error`.
TiXmlElement* processPageRequest(httpd_arg* arg, TiXmlDocument& document, const std::string& getRequest,
                                 std::string& status, std::vector<std::string>& warnings,
                                 const PostBuilder& postBuilder);

// Parses and checks an answer text; false with the error text for a failure status or a bad frame.
bool parseBackendAnswer(const std::string& answer, std::string& errorText, std::string& status);

// The URL of the page the back end considers current; "/summary.html" when it cannot say.
std::string currentPageUrl();

// Switches the back end's and this process's locale.
void setLocale(const std::string& name);
void setLocaleFromQuery(httpd_arg* arg);

// A query variable of the request, empty when absent; at most `limit` - 1 bytes.
std::string queryVariable(httpd_arg* arg, const char* name, size_t limit);
// A form variable of the request body; false when absent.
bool formVariable(httpd_arg* arg, const char* name, size_t limit, std::string& value);
bool isPost(httpd_arg* arg);

// The error block, or one warning block per warning, into "error_message".
void renderMessages(TemplateVariables& variables, const std::vector<std::string>& warnings,
                    const std::string& errorText);
// The select of the interface languages; empty when there are none.
void languageSelector(std::string& out, bool withSubmit);
void setVersionVariable(TemplateVariables& variables);
void selfUpgradeAutoRefresh(std::string& out);

std::string attributeOrEmpty(const TiXmlElement* element, const char* name);
bool attributeIsTrue(const TiXmlElement* element, const char* name);

// Lets "?unit=<name>" answer a page from the XML file of that name in `directory` instead of the back
// end. Only test programs call it; the product has no stored answers.
void enableUnitAnswers(const std::string& directory);
