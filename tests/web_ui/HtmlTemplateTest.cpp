#include "web_ui/HtmlTemplate.h"

#include "common/runtime/Messages.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class HtmlTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(dir.file("test.log")); }

    std::string render(const std::string& text, TemplateVariables& variables, size_t space = 4096) {
        std::string out(space, '\0');
        out.resize(renderTemplate(text.data(), text.size(), variables, &out[0], space));
        return out;
    }
    std::string render(const std::string& text) {
        TemplateVariables variables = {{"yes", "1"}, {"no", "no"}, {"v", "<b>"}};
        return render(text, variables);
    }
    std::string log() {
        Log::flush();
        return testsupport::readFile(dir.file("test.log"));
    }

    testsupport::TempDir dir;
};

TEST_F(HtmlTemplateTest, RendersTagsSectionsAndComments) {
    const std::string name128(128, 'n');
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        {"plain text", "plain text"},
        {"[{@v}]", "[<b>]"}, // values are written unchanged
        {"{#yes}a{/yes}{#no}b{/no}", "a"},
        {"{^yes}a{/yes}{^no}b{/no}", "b"},
        {"{#yes}1{#no}2{/no}3{/yes}", "13"}, // an inner false section ends with its closing tag
        {"{#no}1{#yes}2{/yes}3{/no}4", "4"}, // inside a false section everything is false
        {"{#yes}{@v}{/yes}", "<b>"},         // tags directly after one another
        {"{!comment!}{@v}", "<b>"},
        {"a{!!}b", "ab"},
        {"a{! x } y !}b", "ab"},
        {"a{!never closed", "a"},
        {"function f() {\n return 1; }", "function f() {\n return 1; }"},
        {"{ x}{}{@}", "{ x}{}{@}"},
        {"{" + name128 + "x}", "{" + name128 + "x}"}, // 129 characters are no name
        {"{@" + name128 + "}", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(c.text), c.expected) << c.text;
}

TEST_F(HtmlTemplateTest, TruthOfValues) {
    struct Case {
        const char* value;
        bool isTrue;
    } cases[] = {{"", false},     {"0", false}, {"false", false}, {"no", false}, {"No", true},
                 {"FALSE", true}, {" ", true},  {"1", true},      {"yes", true}};
    for (const Case& c : cases) {
        TemplateVariables variables = {{"a", c.value}};
        EXPECT_EQ(render("{#a}T{/a}{^a}F{/a}", variables), c.isTrue ? "T" : "F") << '"' << c.value << '"';
    }
}

TEST_F(HtmlTemplateTest, UnresolvedNameIsAddedEmptyAndLogged) {
    TemplateVariables variables = {{"a", "no"}};
    EXPECT_EQ(render("{#a}x{/a}{@b}", variables), "");
    ASSERT_EQ(variables.count("b"), 1u);
    EXPECT_EQ(variables["b"], "");
    EXPECT_NE(log().find("Notice: send_html_chunk() encountered unresolved tag reference: '@b'"),
              std::string::npos);
}

TEST_F(HtmlTemplateTest, WrongClosingTagKeepsSectionOpenAndIsLogged) {
    EXPECT_EQ(render("{#yes}a{/no}b{/yes}c"), "abc");
    EXPECT_EQ(render("{#no}a{/yes}b"), "");
    const std::string text = log();
    EXPECT_NE(text.find("encountered invalid bracket sequence: expecting 'no', got 'yes'"),
              std::string::npos);
    EXPECT_NE(text.find("has conditions stack in invalid state upon completion"), std::string::npos);
}

TEST_F(HtmlTemplateTest, NonConformingTagIsWrittenAndLogged) {
    EXPECT_EQ(render("{word and more}"), "{word and more}");
    EXPECT_NE(log().find("skipped what looks like a tag, but does not conform to constraints: 'word'"),
              std::string::npos);
}

TEST_F(HtmlTemplateTest, CatalogueTagWritesText) {
    EXPECT_EQ(render("<title>{web_caption}</title>"),
              "<title>" + Messages().getMessage("web_caption") + "</title>");
}

TEST_F(HtmlTemplateTest, OutputStopsAtTheEndOfTheSpace) {
    TemplateVariables variables = {{"v", "0123456789"}};
    EXPECT_EQ(render("ab{@v}cd", variables, 6), "ab0123");
}

TEST_F(HtmlTemplateTest, SendAdvancesTheReply) {
    char buffer[32] = "HEAD";
    httpd_arg arg = {};
    arg.output = {buffer, sizeof buffer, 4};
    TemplateVariables variables = {{"v", "xyz"}};
    const std::string text = "-{@v}-";
    EXPECT_EQ(send_html_chunk(&arg, text.data(), text.size(), variables), 5);
    EXPECT_EQ(arg.output.used, 9);
    EXPECT_EQ(std::string(buffer, 9), "HEAD-xyz-");
}

} // namespace
