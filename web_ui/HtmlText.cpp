#include "web_ui/HtmlText.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/regex.hpp>
#include <tinyxml.h>

namespace html_text {

std::string escapeHtml(const std::string& text) {
    std::string encoded;
    TiXmlBase::EncodeString(text, &encoded);
    boost::replace_all(encoded, "&#x0A;&#x0D;", "<br/>\n");
    boost::replace_all(encoded, "&#x0A;", "<br/>\n");
    boost::replace_all(encoded, "&#x0D;", "<br/>\n");
    return encoded;
}

std::string linkifyUrls(const std::string& text) {
    static const boost::regex url(R"((https?://[\w0-9:#@%/$~_?\+\-=\.&\\]*))", boost::regex::perl);
    return boost::regex_replace(text, url, "(?1<a href=\"$&\" target=\"_blank\">$&</a>)",
                                boost::match_default | boost::format_all);
}

} // namespace html_text
