#include "common/runtime/utf8.h"

#include <gtest/gtest.h>

namespace {

struct WidthCase {
    const char* text;
    unsigned width;
};

class Utf8Width : public ::testing::TestWithParam<WidthCase> {};

TEST_P(Utf8Width, CountsTerminalColumns) {
    EXPECT_EQ(utf8::width(GetParam().text), GetParam().width) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf8Width,
                         ::testing::Values(WidthCase{"", 0}, WidthCase{"help", 4},
                                           // Cyrillic: two bytes, one column each.
                                           WidthCase{"Показать", 8},
                                           // Kana, kanji and full-width forms: three bytes, two columns each.
                                           WidthCase{"ヘルプを表示", 12}, WidthCase{"ＡＢ", 4},
                                           WidthCase{"한국어", 6},
                                           // Combining marks and zero-width characters take no column.
                                           WidthCase{"e\xCC\x81", 1},
                                           WidthCase{"\xE0\xB8\x81\xE0\xB8\xB4", 1},
                                           WidthCase{"a\xE2\x80\x8B"
                                                     "b",
                                                     2},
                                           // A byte that starts no valid sequence counts as one column.
                                           WidthCase{"\xFF"
                                                     "a",
                                                     2},
                                           WidthCase{"\xE3\x81", 2}));

TEST(Utf8Test, CharacterAtStepsOverWholeSequences) {
    const std::string text = "aЖ語\xFF";
    unsigned width = 0;
    EXPECT_EQ(utf8::characterAt(text, 0, width), 1u);
    EXPECT_EQ(width, 1u);
    EXPECT_EQ(utf8::characterAt(text, 1, width), 2u);
    EXPECT_EQ(width, 1u);
    EXPECT_EQ(utf8::characterAt(text, 3, width), 3u);
    EXPECT_EQ(width, 2u);
    EXPECT_EQ(utf8::characterAt(text, 6, width), 1u);
    EXPECT_EQ(width, 1u);
}

} // namespace
