#pragma once

#include <string>

// Text made ready for a page.
namespace html_text {

// Entities for & < > " ' and references for control characters; each line end becomes "<br/>\n"
// (a carriage return followed by a line feed gives two).
std::string escapeHtml(const std::string& text);

// Every http or https URL becomes a link opening a new window; the rest is copied unchanged.
std::string linkifyUrls(const std::string& text);

} // namespace html_text
