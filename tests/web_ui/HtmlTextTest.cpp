#include "web_ui/HtmlText.h"

#include <gtest/gtest.h>

namespace {

TEST(HtmlTextTest, EscapesMarkupAndLineEnds) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&apos;"},
        {"Don't", "Don&apos;t"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a\nb", "a<br/>\nb"},
        {"a\n\rb", "a<br/>\nb"},
        {"a\r\nb", "a<br/>\n<br/>\nb"},
        {"a\rb", "a<br/>\nb"},
        {"tab\x01", "tab&#x01;"},
        {"&#x3C;", "&amp;#x3C;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(html_text::escapeHtml(c.text), c.expected) << c.text;
}

TEST(HtmlTextTest, TurnsUrlsIntoLinks) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"see http://example.com/a?b=1&c=2 now", "see <a href=\"http://example.com/a?b=1&c=2\" "
                                                 "target=\"_blank\">http://example.com/a?b=1&c=2</a> now"},
        {"https://x.org/p\"onclick",
         "<a href=\"https://x.org/p\" target=\"_blank\">https://x.org/p</a>\"onclick"},
        {"no link ftp://x", "no link ftp://x"},
        {"a http://1 b https://2", "a <a href=\"http://1\" target=\"_blank\">http://1</a> b "
                                   "<a href=\"https://2\" target=\"_blank\">https://2</a>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(html_text::linkifyUrls(c.text), c.expected) << c.text;
}

} // namespace
