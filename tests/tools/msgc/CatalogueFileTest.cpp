#include "tools/msgc/CatalogueCheck.h"
#include "tools/msgc/CatalogueFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using msgc::CatalogueCheck;
using msgc::CatalogueError;
using msgc::CatalogueFile;
using ::testing::HasSubstr;

namespace {

std::string failureOf(const std::string& content, const CatalogueFile* english = nullptr) {
    try {
        CatalogueFile file = CatalogueFile::parseText("de_DE.msg", content);
        CatalogueCheck::checkTexts(file);
        if (english)
            CatalogueCheck::checkAgainstEnglish(file, *english);
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
                                                                     "nbsp=\"x\\u{00A0}y \\u{200F}\"\n");
    ASSERT_EQ(file.entries().size(), 3u);
    EXPECT_EQ(file.find("plain")->text, "one");
    EXPECT_EQ(file.find("joined")->text, "a \"quoted\" back\\slash\n");
    EXPECT_EQ(file.find("nbsp")->text, "x\xc2\xa0y \xe2\x80\x8f");
    EXPECT_EQ(file.find("nbsp")->line, 7);
    EXPECT_EQ(file.find("absent"), nullptr);
}

TEST(CatalogueFileTest, RejectsMalformedFilesWithPlaceKeyAndReason) {
    const CatalogueFile english = CatalogueFile::parseText("en_US.msg", "known = \"x\"\nother = \"y\"\n");
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
        {"known = \"x\" trailing\n", "de_DE.msg:1: known: unexpected text after the quoted text"},
        {"known = \"tab\there\"\n", "de_DE.msg:1: known: control character 9 in the text"},
        {"known = \"cr\rhere\"\n", "de_DE.msg:1: known: control character 13 in the text"},
        {"known = \"bad \xc3\x28 utf8\"\n", "de_DE.msg:1: known: invalid UTF-8 in the text"},
        {"known = \"overlong \xc0\xaf\"\n", "de_DE.msg:1: known: invalid UTF-8 in the text"},
        {"known = \"\"\n", "de_DE.msg:1: known: empty text"},
        {"known = \"x\"\nextra = \"y\"\n", "de_DE.msg:2: extra: key not in the English file"},
        {"= \"x\"\n", "de_DE.msg:1: expected a key"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failureOf(c.content, &english), c.expected) << c.content;
}

} // namespace
