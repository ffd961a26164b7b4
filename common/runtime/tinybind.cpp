#include "common/runtime/tinybind.h"

#include "common/runtime/fileops.h"

#include <cstdio>
#include <memory>

namespace tinybind {

namespace {

err failure(int32_t code, const std::string& text) {
    return err{code, text};
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

} // namespace

notfound::notfound(const std::string& child, const std::string& parent)
    : err{1, "There is no child element '" + child + "' in tag '" + parent + "'"} {}

parse_err::parse_err(int32_t code, const std::string& text, int32_t row, int32_t column)
    : err{code, text}, row(row), column(column) {}

Document::Document(const std::string& path) {
    if (!fileops::exists(path))
        throw failure(-1, "File " + path + " not exists");
    if (fileops::is_directory(path))
        throw failure(-1, path + " is directory, xml file expected.");

    // Opened here rather than by TinyXML so that the descriptor is close-on-exec.
    std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rbe"));
    SetValue(path);
    bool loaded = false;
    if (file)
        loaded = LoadFile(file.get(), TIXML_DEFAULT_ENCODING);
    else
        SetError(TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    if (!loaded)
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

} // namespace tinybind
