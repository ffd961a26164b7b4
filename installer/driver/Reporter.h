#pragma once

#include <ostream>
#include <string>

class TiXmlNode;

// One result record: an outcome code, a message and an error class. It prints itself as text for a
// person or, with enable-xml-output, as the result document for a program. Listings derive from it.
class Reporter {
public:
    enum code_t { ok = 0, failed = 1, busy = 2 };

    Reporter(int code, const char* message);
    Reporter(int code, const std::string& message, const char* errorClass);
    virtual ~Reporter() = default;

    virtual std::ostream& put(std::ostream& out) const;

    // The result document; `payload` (may be null) becomes the root's only child.
    void printXml(std::ostream& out, const TiXmlNode* payload) const;

    // A left-aligned table column: the text followed by blanks up to `width`; longer texts are not cut.
    static std::string padded(const std::string& text, size_t width);

protected:
    int code;
    std::string message;
    std::string errorClass;
};

std::ostream& operator<<(std::ostream& out, const Reporter& reporter);
