#include "tools/msgc/CatalogueFile.h"

#include <gtest/gtest.h>

using msgc::CatalogueError;
using msgc::CatalogueFile;

namespace {

std::string parseFailure(const std::string& content) {
    try {
        CatalogueFile::parseText("de_DE.msg", content);
    } catch (const CatalogueError& e) {
        return e.what();
    }
    return "";
}

TEST(CatalogueFileTest, ReadsSegmentsEscapesAndComments) {
    const CatalogueFile file = CatalogueFile::parseText("en_US.msg", "# heading\n"
                                                                     "\n"
                                                                     "plain = \"one\"\n"
                                                                     "joined = \"a \\\"quoted\\\" \"\n"
                                                                     "    # a comment between segments\n"
                                                                     "    \"back\\\\slash\\n\"\n"
                                                                     "nbsp=\"x\\u{00A0}y \\u{200F}\"\n"
                                                                     "raw = \"caf\xc3\xa9 \xe6\x97\xa5\"\n");
    ASSERT_EQ(file.entries().size(), 4u);
    EXPECT_EQ(file.find("plain")->text, "one");
    EXPECT_EQ(file.find("joined")->text, "a \"quoted\" back\\slash\n");
    EXPECT_EQ(file.find("nbsp")->text, "x\xc2\xa0y \xe2\x80\x8f");
    EXPECT_EQ(file.find("nbsp")->line, 7);
    EXPECT_EQ(file.find("raw")->text, "caf\xc3\xa9 \xe6\x97\xa5");
    EXPECT_EQ(file.find("absent"), nullptr);
}

TEST(CatalogueFileTest, RejectsMalformedFilesWithPlaceKeyAndReason) {
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"known = \"a\"\nknown = \"b\"\n", "de_DE.msg:2: known: duplicate key"},
        {"known = \"open\n", "de_DE.msg:1: known: unterminated quoted text"},
        {"known \"x\"\n", "de_DE.msg:1: known: expected '=' after the key"},
        {"known = \"\\t\"\n", "de_DE.msg:1: known: unknown escape \\t"},
        {"known = \"\\u{D800}\"\n", "de_DE.msg:1: known: \\u{D800} is not a character"},
        {"known = \"\\u{12\"\n", "de_DE.msg:1: known: expected \\u{HHHH}"},
        {"known = \"x\" trailing\n", "de_DE.msg:1: known: unexpected text after the quoted text"},
        {"= \"x\"\n", "de_DE.msg:1: expected a key"},
        // Characters that show nothing must be visible in the file as escapes.
        {"a = \"x\"\nknown = \"no\xc2\xa0"
         "break\"\n",
         "de_DE.msg:2: known: invisible character in the text: write it as \\u{00A0}"},
        {"known = \"\xe2\x80\x8f"
         "rtl\"\n",
         "de_DE.msg:1: known: invisible character in the text: write it as \\u{200F}"},
        {"known = \"\xe3\x80\x80\"\n",
         "de_DE.msg:1: known: invisible character in the text: write it as \\u{3000}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseFailure(c.content), c.expected) << c.content;
}

} // namespace
