#pragma once

#include <tinyxml.h>

#include <cstdint>
#include <iterator>
#include <string>

// Loading and walking XML documents over TinyXML. Missing children, attributes and texts raise
// tinybind::err with texts that name the element and its 1-based row and column; callers turn
// them into the installer's own errors.
namespace tinybind {

// Codes: -1 the file cannot be loaded, 0 an operation on a null handle, 1 a lookup or format
// failure, anything else TinyXML's own error id.
struct err {
    int32_t code;
    std::string text;
};

// A missing required child element (code 1).
struct notfound : err {
    notfound(const std::string& child, const std::string& parent);
};

// An XML syntax error: TinyXML's error id and description, and where it was found.
struct parse_err : err {
    parse_err(int32_t code, const std::string& text, int32_t row, int32_t column);
    int32_t row;
    int32_t column;
};

// How deep elements may nest. TinyXML's parser and destructor recurse once per level, so a hostile
// document could otherwise overflow the stack; real catalogues and build descriptions nest fewer
// than 10 levels.
const int max_depth = 256;

// Reads the file into the document the way TinyXML's LoadFile does, close-on-exec. A document that
// nests deeper than max_depth, or whose nesting cannot be told without parsing it (text that is
// not UTF-8, markup TinyXML reads its own way) while it has more than max_depth elements, raises
// err (code 1) naming the file before TinyXML sees it. False when TinyXML fails; its error is then
// in the document.
bool loadFile(TiXmlDocument& document, const std::string& path);

class Document : public TiXmlDocument {
public:
    // Raises err (-1) for a missing path or a directory, err (1) for a document nested too deep, and
    // parse_err for a file that cannot be read or parsed.
    explicit Document(const std::string& path);
    ~Document() override;

    // The first element of the document; with a non-empty expectedName it must carry that tag.
    TiXmlElement* root(const std::string& expectedName);
};

// A nullable handle to an element owned by its document.
class Element {
public:
    Element(const TiXmlElement* element = nullptr) : element(element) {}

    // The first child element with that tag; raises notfound when there is none.
    Element child(const std::string& name) const;
    // "" both for an absent attribute and for an empty value.
    std::string attribute(const std::string& name) const;
    std::string requiredAttribute(const std::string& name) const;
    // Exactly "true", "yes", "false" or "no".
    bool boolAttribute(const std::string& name) const;
    // The element's only text node; an element with none gives "" when optional.
    std::string text(bool optional) const;
    std::string name() const;

    // Moves to the first child element with that tag (and, in the second form, with that
    // attribute value). Never raises: on failure the handle becomes null and getErrorText() says why.
    void findChild(const std::string& childName);
    void findChild(const std::string& childName, const std::string& attributeName, const std::string& value);

    const TiXmlElement* get() const { return element; }
    explicit operator bool() const { return element != nullptr; }
    const std::string& getErrorText() const { return errorText; }

private:
    const TiXmlElement* checked() const;
    // " (row:R col:C)"
    std::string position() const;
    // Both forms of findChild; without an attribute name any child with the tag will do.
    void moveToChild(const std::string& childName, const std::string* attributeName,
                     const std::string& value);

    const TiXmlElement* element;
    std::string errorText;
};

// The child elements of one element with one tag, or with any tag when the name is empty.
class ChildIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Element;
    using difference_type = std::ptrdiff_t;
    using pointer = const Element*;
    using reference = Element;

    ChildIterator(const Element& parent, const std::string& name);
    // The end.
    ChildIterator() : current(nullptr) {}

    ChildIterator& operator++();
    Element operator*() const { return Element(current); }
    bool operator==(const ChildIterator& other) const { return current == other.current; }
    bool operator!=(const ChildIterator& other) const { return current != other.current; }

private:
    std::string name;
    const TiXmlElement* current;
};

// Assigns the attribute to target when it exists and returns its value; else null, target untouched.
const char* readAttribute(std::string& target, const TiXmlElement* e, const char* name);
// The first child node that is a text node, or null.
const TiXmlText* firstTextChild(const TiXmlElement* e);
void appendText(TiXmlNode& parent, const std::string& text);
// A new empty child element at the end; the parent owns it.
TiXmlElement* appendElement(TiXmlNode& parent, const std::string& name);
// "true" or "false", as Element::boolAttribute reads them back.
void setBoolAttribute(TiXmlElement& element, const std::string& name, bool value);
// The first child element with that tag and, when attributeName is not empty, with that attribute
// value; null when there is none. For documents being written.
TiXmlElement* findElement(TiXmlElement& parent, const std::string& name,
                          const std::string& attributeName = "", const std::string& value = "");

} // namespace tinybind
