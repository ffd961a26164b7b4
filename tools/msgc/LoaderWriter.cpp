#include "tools/msgc/LoaderWriter.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace msgc {

namespace {

// A C++ string literal holding exactly these bytes; octal escapes keep non-ASCII bytes
// independent of the compiler's source character set.
std::string literal(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '?') {
            out += "\\?"; // no trigraphs
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char octal[8];
            snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
    }
    return out + "\"";
}

} // namespace

std::string LoaderWriter::loaderSource(const std::string& group, const std::string& locale,
                                       const CatalogueFile* file) {
    std::ostringstream out;
    out << "// Generated from " << (file ? file->path() : std::string("no data file")) << "; do not edit.\n"
        << "#include \"common/runtime/Messages.h\"\n\n"
        << "void Messages::messages_rep::load" << group << "Texts_" << locale << "() {\n";
    if (file && !file->entries().empty()) {
        out << "    static const entry entries[] = {\n";
        for (const Entry& entry : file->entries())
            out << "        {" << literal(entry.key) << ", " << literal(entry.text) << "},\n";
        out << "    };\n"
            << "    assign(entries);\n";
    }
    out << "}\n";
    return out.str();
}

void LoaderWriter::writeIfChanged(const std::string& path, const std::string& content) {
    {
        std::ifstream existing(path, std::ios::binary);
        if (existing) {
            std::ostringstream old;
            old << existing.rdbuf();
            if (old.str() == content)
                return;
        }
    }
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out)
            throw std::runtime_error(temporary + ": cannot be written");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error(path + ": cannot be replaced");
}

} // namespace msgc
