#include "installer/driver/OptionsHelpPrinter.h"

#include "common/runtime/utf8.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/make_shared.hpp>
#include <boost/program_options/value_semantic.hpp>

#include <algorithm>
#include <sstream>

namespace po = boost::program_options;

namespace {

boost::shared_ptr<po::option_description> option(const char* name, const po::value_semantic* semantic,
                                                 const std::string& text) {
    return boost::make_shared<po::option_description>(name, semantic, text.c_str());
}

// Two groups with short and long heads, values, defaults, several paragraphs and runs of blanks.
std::vector<OptionGroup> asciiGroups() {
    return {
        {"Command options",
         {option("preset", po::value<std::string>(),
                 "Install a predefined set of components. Use the 'list' command with '--presets' option to "
                 "check available presets"),
          option("with", po::value<std::vector<std::string>>()->multitoken()->value_name("name ..."),
                 "Add components to the selected preset"),
          option("dry-run", po::bool_switch(),
                 "Do not actually perform the operation. Instead show packages that will be installed, "
                 "updated, or removed, marked with [I], [U], and [R] respectively"),
          option("a-rather-long-option-name-that-overflows", po::value<std::string>()->default_value("x"),
                 "Its description starts on a line of its own\nand has a second paragraph  with  two "
                 "blanks between words, which goes on long enough to be wrapped at least once or twice")}},
        {"General options",
         {option("help", po::bool_switch(), "Show this help message"),
          option("verbose,v", po::value<uint64_t>()->implicit_value(1), "Make help message more verbose"),
          option("tries", po::value<int>()->default_value(3),
                 "Maximum number of retries for download operations"),
          option("unexplained", po::value<std::string>(), "")}},
    };
}

std::string printed(const std::vector<OptionGroup>& groups, unsigned width) {
    std::ostringstream out;
    OptionsHelpPrinter(width, 40).print(out, groups);
    return out.str();
}

class HelpPrinterMatchesTheLibrary : public ::testing::TestWithParam<unsigned> {};

TEST_P(HelpPrinterMatchesTheLibrary, ForPlainText) {
    const unsigned width = GetParam();
    const std::vector<OptionGroup> groups = asciiGroups();
    po::options_description all(width, 40);
    for (const OptionGroup& group : groups) {
        po::options_description described(group.caption, width, 40);
        for (const auto& one : group.options)
            described.add(one);
        all.add(described);
    }
    std::ostringstream library;
    library << all;
    EXPECT_EQ(printed(groups, width), library.str());
}

INSTANTIATE_TEST_SUITE_P(Widths, HelpPrinterMatchesTheLibrary, ::testing::Values(42u, 60u, 80u, 132u));

std::string withoutBlanks(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// Every line of the printed option fits the width in columns and ends on a whole character, and
// taking away the line breaks and the indent gives the description back (less the single blanks
// that start continued lines).
void expectWrappedByCharacters(const std::string& description, unsigned width) {
    const std::string text = printed({{"G", {option("opt", po::bool_switch(), description)}}}, width);
    std::vector<std::string> lines;
    boost::algorithm::split(lines, text, [](char c) { return c == '\n'; });
    ASSERT_GE(lines.size(), 5u) << text; // "", caption, three or more lines of the option, ""
    const std::string indent(25, ' ');
    std::string rejoined = lines[2].substr(indent.size());
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        EXPECT_LT(utf8::width(lines[i]), width) << lines[i];
        for (size_t pos = 0; pos < lines[i].size();) {
            unsigned long code = 0;
            const size_t length = utf8::decode(lines[i], pos, code);
            ASSERT_NE(length, 0u) << "line " << i << " splits a character: " << lines[i];
            pos += length;
        }
        if (i > 2) {
            ASSERT_EQ(lines[i].compare(0, indent.size(), indent), 0) << lines[i];
            rejoined += lines[i].substr(indent.size());
        }
    }
    EXPECT_EQ(withoutBlanks(rejoined), withoutBlanks(description));
}

TEST(HelpPrinterTest, WrapsJapaneseByCharactersOfTwoColumns) {
    const std::string japanese =
        "コンポーネントの事前定義済みセットをインストールします。使用可能なプリセットを確認"
        "するには、'list' コマンドを '--presets' オプションとともに使用します";
    expectWrappedByCharacters(japanese, 80);
    // 80 columns less the indent of 25 and the spare last column leave 54: 27 characters of two columns each
    // per line.
    const std::string text = printed({{"G", {option("opt", po::bool_switch(), japanese)}}}, 80);
    std::vector<std::string> lines;
    boost::algorithm::split(lines, text, [](char c) { return c == '\n'; });
    EXPECT_EQ(utf8::width(lines[2]) - 25, 54u) << lines[2];
}

TEST(HelpPrinterTest, WrapsRussianAtBlanksByCharacters) {
    const std::string russian =
        "Не выполнять операцию. Вместо этого показать пакеты, которые будут установлены, "
        "обновлены или удалены, отмеченные как [I], [U] и [R] соответственно";
    expectWrappedByCharacters(russian, 80);
    const std::string text = printed({{"G", {option("opt", po::bool_switch(), russian)}}}, 80);
    EXPECT_EQ(text, "\nG:\n"
                    "  --opt                  Не выполнять операцию. Вместо этого показать пакеты, \n"
                    "                         которые будут установлены, обновлены или удалены, \n"
                    "                         отмеченные как [I], [U] и [R] соответственно\n");
}

TEST(HelpPrinterTest, NarrowTerminalsKeepFortyColumnsForDescriptions) {
    const std::vector<OptionGroup> groups = asciiGroups();
    EXPECT_EQ(printed(groups, 10), printed(groups, 42));
    EXPECT_EQ(OptionsHelpPrinter(10, 40).descriptionColumn(groups), 2u);
}

} // namespace
