#include "common/runtime/tinybind.h"

#include "common/runtime/fileops.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace tinybind {

namespace {

err failure(int32_t code, const std::string& text) {
    return err{code, text};
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

bool readWhole(const std::string& path, std::string& text) {
    std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rbe"));
    if (!file)
        return false;
    char buffer[65536];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        text.append(buffer, got);
    return !ferror(file.get());
}

// Valid UTF-8 keeps every ASCII byte outside multi-byte sequences, which TinyXML reads by the
// length their first byte gives.
bool isUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        if (length == 0 || at + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

// Follows the markup of a UTF-8 document the way TinyXML reads it, strictly: element tags with
// quoted attributes, end tags, comments, CDATA sections, declarations and other "<!...>" or "<?...>"
// markup. Where the text leaves that reading, TinyXML either fails there or reads it its own way; the
// nesting is then only bounded by the elements that could still start.
class NestingScanner {
public:
    explicit NestingScanner(const std::string& text) : text(text) {}

    // The deepest nesting, or a bound of it.
    size_t depth() {
        while (at < text.size()) {
            const size_t open = text.find('<', at);
            if (open == std::string::npos)
                break;
            at = open;
            if (!step())
                return std::max(deepest, open_names.size() + lessThanSigns(open));
        }
        return deepest;
    }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
    static bool isNameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
    }

    bool startsWith(const char* prefix) const { return text.compare(at, strlen(prefix), prefix) == 0; }
    size_t lessThanSigns(size_t from) const {
        return static_cast<size_t>(
            std::count(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), '<'));
    }
    char peek() const { return at < text.size() ? text[at] : '\0'; }
    void skipBlanks() {
        while (at < text.size() && isBlank(text[at]))
            ++at;
    }
    // Moves past `end`, or to the end of the text, which ends TinyXML's reading too.
    void skipPast(const char* end) {
        const size_t found = text.find(end, at);
        at = found == std::string::npos ? text.size() : found + strlen(end);
    }
    std::string name() {
        const size_t start = at;
        if (isNameStart(peek()))
            while (at < text.size() && isNameChar(text[at]))
                ++at;
        return text.substr(start, at - start);
    }
    // name ws* '=' ws* quoted value, the quotes alike; with `plain_value` the value holds no quote,
    // blank or markup character, which is all TinyXML's reading of declarations agrees with.
    bool attribute(bool plain_value) {
        if (name().empty())
            return false;
        skipBlanks();
        if (peek() != '=')
            return false;
        ++at;
        skipBlanks();
        const char quote = peek();
        if (quote != '"' && quote != '\'')
            return false;
        const size_t end = text.find(quote, at + 1);
        if (end == std::string::npos)
            return false;
        if (plain_value && text.find_first_of("\"'<> \t\r\n", at + 1) < end)
            return false;
        at = end + 1;
        return true;
    }

    // One piece of markup at `at`; false where the strict reading ends.
    bool step() {
        if (startsWith("<!--")) {
            skipPast("-->");
        } else if (startsWith("<![CDATA[")) {
            skipPast("]]>");
        } else if (text.size() - at >= 5 && strncasecmp(text.c_str() + at, "<?xml", 5) == 0) {
            return declaration();
        } else if (startsWith("</")) {
            return endTag();
        } else if (isNameStart(text.size() > at + 1 ? text[at + 1] : '\0')) {
            return element();
        } else if (text.size() > at + 1 && static_cast<unsigned char>(text[at + 1]) >= 0x80) {
            return false;
        } else {
            skipPast(">");
        }
        return true;
    }

    bool declaration() {
        at += 5;
        for (;;) {
            skipBlanks();
            if (startsWith("?>") || peek() == '>') {
                skipPast(">");
                return true;
            }
            if (!attribute(true))
                return false;
        }
    }

    bool endTag() {
        at += 2;
        const std::string closed = name();
        skipBlanks();
        if (peek() != '>' || open_names.empty() || open_names.back() != closed)
            return false;
        ++at;
        open_names.pop_back();
        return true;
    }

    bool element() {
        ++at;
        std::string opened = name();
        for (;;) {
            skipBlanks();
            if (startsWith("/>")) {
                at += 2;
                deepest = std::max(deepest, open_names.size() + 1);
                return true;
            }
            if (peek() == '>') {
                ++at;
                open_names.push_back(std::move(opened));
                deepest = std::max(deepest, open_names.size());
                return true;
            }
            if (!attribute(false))
                return false;
        }
    }

    const std::string& text;
    size_t at = 0;
    size_t deepest = 0;
    std::vector<std::string> open_names;
};

size_t nestingDepth(const std::string& text) {
    if (!isUtf8(text))
        return static_cast<size_t>(std::count(text.begin(), text.end(), '<'));
    return NestingScanner(text).depth();
}

} // namespace

bool loadFile(TiXmlDocument& document, const std::string& path) {
    std::string text;
    if (!readWhole(path, text)) {
        document.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    if (nestingDepth(text) > static_cast<size_t>(max_depth))
        throw failure(1, "The XML document " + path + " nests elements deeper than " +
                             std::to_string(max_depth) + " levels, or too many to be checked");
    // TinyXML reads the very bytes checked, with its own line-end handling.
    std::unique_ptr<FILE, FileCloser> memory(fmemopen(&text[0], text.size(), "rb"));
    if (!memory) {
        document.SetError(TiXmlBase::TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    return document.LoadFile(memory.get(), TIXML_DEFAULT_ENCODING);
}

notfound::notfound(const std::string& child, const std::string& parent)
    : err{1, "There is no child element '" + child + "' in tag '" + parent + "'"} {}

parse_err::parse_err(int32_t code, const std::string& text, int32_t row, int32_t column)
    : err{code, text}, row(row), column(column) {}

Document::Document(const std::string& path) {
    if (!fileops::exists(path))
        throw failure(-1, "File " + path + " not exists");
    if (fileops::is_directory(path))
        throw failure(-1, path + " is directory, xml file expected.");

    SetValue(path);
    if (!loadFile(*this, path))
        throw parse_err(ErrorId(), ErrorDesc(), ErrorRow(), ErrorCol());
}

Document::~Document() = default;

TiXmlElement* Document::root(const std::string& expectedName) {
    TiXmlElement* first = FirstChildElement();
    if (!first)
        throw failure(ErrorId(), ErrorDesc());
    if (!expectedName.empty() && expectedName != first->Value())
        throw failure(1, "Root element name not match");
    return first;
}

const TiXmlElement* Element::checked() const {
    if (!element)
        throw failure(0, "no element pointer");
    return element;
}

std::string Element::position() const {
    return " (row:" + std::to_string(element->Row()) + " col:" + std::to_string(element->Column()) + ")";
}

Element Element::child(const std::string& name) const {
    const TiXmlElement* found = checked()->FirstChildElement(name.c_str());
    if (!found)
        throw notfound(name, element->Value());
    return Element(found);
}

std::string Element::attribute(const std::string& name) const {
    const char* value = checked()->Attribute(name.c_str());
    return value ? value : "";
}

std::string Element::requiredAttribute(const std::string& name) const {
    const char* value = checked()->Attribute(name.c_str());
    if (!value)
        throw failure(1, "There is no attribute '" + name + "' in element " + element->Value() + position());
    return value;
}

bool Element::boolAttribute(const std::string& name) const {
    std::string value = requiredAttribute(name);
    if (value == "true" || value == "yes")
        return true;
    if (value == "false" || value == "no")
        return false;
    throw failure(1, "There is incorrect boolean attribute '" + name + "' in element " + element->Value() +
                         position() + ". Must be 'true' or 'false'.");
}

std::string Element::text(bool optional) const {
    const TiXmlText* found = nullptr;
    for (const TiXmlNode* node = checked()->FirstChild(); node; node = node->NextSibling()) {
        const TiXmlText* text = node->ToText();
        if (!text)
            continue;
        if (found)
            throw failure(1, std::string("There is not only text node in element '") + element->Value() +
                                 "'" + position());
        found = text;
    }
    if (found)
        return found->Value();
    if (optional)
        return "";
    throw failure(1, std::string("Text node not found in element '") + element->Value() + "'" + position());
}

std::string Element::name() const {
    return checked()->Value();
}

void Element::findChild(const std::string& childName) {
    moveToChild(childName, nullptr, std::string());
}

void Element::findChild(const std::string& childName, const std::string& attributeName,
                        const std::string& value) {
    moveToChild(childName, &attributeName, value);
}

void Element::moveToChild(const std::string& childName, const std::string* attributeName,
                          const std::string& value) {
    if (!element)
        return;
    if (childName.empty()) {
        errorText = "not specified child element name";
        element = nullptr;
        return;
    }
    const TiXmlElement* found = element->FirstChildElement(childName.c_str());
    for (; found && attributeName; found = found->NextSiblingElement(childName.c_str())) {
        const char* attribute = found->Attribute(attributeName->c_str());
        if (attribute && value == attribute)
            break;
    }
    if (!found) {
        errorText = "not found child element " + childName + " in element " + element->Value();
        if (attributeName)
            errorText += " with attribute " + *attributeName + "=\"" + value + "\"";
    }
    element = found;
}

ChildIterator::ChildIterator(const Element& parent, const std::string& name) : name(name) {
    if (!parent)
        throw failure(0, "no element pointer");
    current =
        name.empty() ? parent.get()->FirstChildElement() : parent.get()->FirstChildElement(name.c_str());
}

ChildIterator& ChildIterator::operator++() {
    if (current)
        current = name.empty() ? current->NextSiblingElement() : current->NextSiblingElement(name.c_str());
    return *this;
}

const char* readAttribute(std::string& target, const TiXmlElement* e, const char* name) {
    const char* value = e->Attribute(name);
    if (value)
        target = value;
    return value;
}

const TiXmlText* firstTextChild(const TiXmlElement* e) {
    for (const TiXmlNode* node = e->FirstChild(); node; node = node->NextSibling())
        if (const TiXmlText* text = node->ToText())
            return text;
    return nullptr;
}

void appendText(TiXmlNode& parent, const std::string& text) {
    parent.InsertEndChild(TiXmlText(text));
}

TiXmlElement* appendElement(TiXmlNode& parent, const std::string& name) {
    return parent.InsertEndChild(TiXmlElement(name))->ToElement();
}

void setBoolAttribute(TiXmlElement& element, const std::string& name, bool value) {
    element.SetAttribute(name, value ? "true" : "false");
}

TiXmlElement* findElement(TiXmlElement& parent, const std::string& name, const std::string& attributeName,
                          const std::string& value) {
    for (TiXmlElement* child = parent.FirstChildElement(name); child;
         child = child->NextSiblingElement(name)) {
        if (attributeName.empty())
            return child;
        const char* attribute = child->Attribute(attributeName.c_str());
        if (attribute && attribute == value)
            return child;
    }
    return nullptr;
}

} // namespace tinybind
