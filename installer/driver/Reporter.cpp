#include "installer/driver/Reporter.h"

#include "installer/driver/Options.h"

#include <tinyxml.h>

#include <iostream>

namespace {

const char* statusWord(int code) {
    switch (code) {
    case Reporter::ok:
        return "ok";
    case Reporter::failed:
        return "error";
    case Reporter::busy:
        return "busy";
    default:
        return "";
    }
}

} // namespace

Reporter::Reporter(int code, const char* message) : code(code), message(message ? message : "") {}

Reporter::Reporter(int code, const std::string& message, const char* errorClass)
    : code(code), message(message), errorClass(errorClass ? errorClass : "") {}

std::ostream& Reporter::put(std::ostream& out) const {
    if (!Options::enableXmlOutput) {
        out << (code == failed ? "\nERROR: " : code == busy ? "\nBUSY: " : "\n") << message << "\n";
        out.flush();
        return out;
    }
    if (code == failed)
        std::cerr << "ERROR: " << message << "\n";
    printXml(out, nullptr);
    return out;
}

void Reporter::printXml(std::ostream& out, const TiXmlNode* payload) const {
    TiXmlElement root("dizadizezeroz");
    root.SetAttribute("status", Options::statusPrefix + statusWord(code));
    if (!message.empty()) {
        root.SetAttribute("error_message", message);
        if (!errorClass.empty())
            root.SetAttribute("error_class", errorClass);
    }
    if (payload)
        root.InsertEndChild(*payload);
    // Nodes are inserted as copies, so the document owns no node made here.
    TiXmlDocument document;
    document.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", "yes"));
    document.InsertEndChild(root);
    out << document << "\n";
    out.flush();
}

std::string Reporter::padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::ostream& operator<<(std::ostream& out, const Reporter& reporter) {
    return reporter.put(out);
}
