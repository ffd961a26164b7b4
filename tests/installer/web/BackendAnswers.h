#pragma once

// The web back end's answers as text, request documents from text, and golden answers kept under
// tests/fixtures/web/. With MOXEL_WRITE_GOLDEN set in the environment the answer of the run is
// written there instead, for review.

#include "common/runtime/tinybind.h"
#include "installer/web/BackendProtocol.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <tinyxml.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace webtest {

// The answer so far, indented two blanks per level.
inline std::string answerText(BackendProtocol& protocol) {
    TiXmlPrinter printer;
    printer.SetIndent("  ");
    protocol.getAnswer().Accept(&printer);
    return printer.Str();
}

inline std::string golden(const std::string& name, const std::string& answer) {
    const std::string path = std::string(MOXEL_SOURCE_DIR) + "/tests/fixtures/web/" + name;
    if (std::getenv("MOXEL_WRITE_GOLDEN")) {
        std::ofstream(path) << answer;
        return answer;
    }
    return testsupport::readFile(path);
}

// A parsed request document; root() is its "request" element.
class Request {
public:
    explicit Request(const std::string& text) {
        document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        EXPECT_FALSE(document.Error()) << document.ErrorDesc() << "\n" << text;
    }

    tinybind::Element root() const { return tinybind::Element(document.RootElement()); }

private:
    TiXmlDocument document;
};

// The text of what the call raises: an error's class and text, or the XML binding's text.
template <typename Call> std::string raised(Call call) {
    try {
        call();
    } catch (const error& e) {
        return std::to_string(e.getClass()) + " " + e.getText();
    } catch (const tinybind::err& e) {
        return "binding " + e.text;
    }
    return "nothing raised";
}

} // namespace webtest
