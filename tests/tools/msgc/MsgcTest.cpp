#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

using ::testing::HasSubstr;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Runs the catalogue compiler on a data directory of its own, as the build does.
class MsgcTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(data.c_str(), 0755);
        mkdir(out.c_str(), 0755);
        writeFile(data + "/en_US.msg",
                  "# English\n"
                  "err_not_root = \"Moxel Installer should be executed with root privileges.\"\n"
                  "err_exec_non_zero = \"The external command '%s' exited with non-zero status %s.\"\n"
                  "err_no_command = \"No command option was specified.\\n\"\n"
                  "    \"Run Moxel Installer with the --help-options option.\"\n");
    }

    // Exit status and everything the compiler printed.
    std::pair<int, std::string> run() {
        const std::string command =
            std::string(MOXEL_BINARY_DIR) + "/tools/msgc/msgc Error '" + data + "' '" + out + "' 2>&1";
        FILE* pipe = popen(command.c_str(), "re");
        std::string output;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        const int status = pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
    }

    TempDir dir;
    const std::string data = dir.file("error");
    const std::string out = dir.file("loaders");
};

TEST_F(MsgcTest, CompilesEnglishAndTranslationsIntoLoaders) {
    writeFile(data + "/de_DE.msg", "err_not_root = \"Moxel Installer muss mit root-Rechten laufen.\"\n"
                                   "err_exec_non_zero = \"Der Befehl '%s' endete mit dem Status %s.\"\n"
                                   "err_no_command = \"Kein Befehl angegeben.\\n\"\n"
                                   "    \"Moxel Installer mit --help-options starten.\"\n");
    const auto result = run();
    ASSERT_EQ(result.first, 0) << result.second;
    const std::string english = readFile(out + "/loadErrorTexts_en_US.cpp");
    EXPECT_THAT(english, HasSubstr("void Messages::messages_rep::loadErrorTexts_en_US() {"));
    EXPECT_THAT(english, HasSubstr("{\"err_no_command\", \"No command option was specified.\\n"
                                   "Run Moxel Installer with the --help-options option.\"}"));
    EXPECT_THAT(readFile(out + "/loadErrorTexts_de_DE.cpp"),
                HasSubstr("\"Moxel Installer muss mit root-Rechten laufen.\""));
    // A locale without a data file gets an empty loader, so English shows through.
    EXPECT_THAT(readFile(out + "/loadErrorTexts_fr_FR.cpp"),
                HasSubstr("void Messages::messages_rep::loadErrorTexts_fr_FR() {\n}\n"));
}

// Each bad translation fails the build with the file, the line, the key and the reason.
TEST_F(MsgcTest, RejectsBadTranslationFiles) {
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"err_not_root = \"Als root starten.\"\n"
         "err_exec_non_zero = \"Der Befehl '%s' endete mit %s.\"\n",
         "de_DE.msg: err_no_command: key missing from the translation"},
        {"err_not_root = \"Als root starten.\"\n"
         "err_not_root = \"Als root starten!\"\n",
         "de_DE.msg:2: err_not_root: duplicate key"},
        {"err_not_root = \"Als root starten.\"\n"
         "err_exec_non_zero = \"Der Befehl endete mit %s.\"\n"
         "err_no_command = \"Kein Befehl. --help-options\"\n",
         "de_DE.msg:2: err_exec_non_zero: placeholders differ from English: expected %s %s, found %s"},
        {"err_not_root = \"Als\troot starten.\"\n",
         "de_DE.msg:1: err_not_root: control character 9 in the text"},
        {"err_not_root = \"Als root starten.\r\"\n",
         "de_DE.msg:1: err_not_root: control character 13 in the text"},
        {"err_not_root = \"Als root \xe4nderen.\"\n", "de_DE.msg:1: err_not_root: invalid UTF-8 in the text"},
        {"err_not_root = \"Als root starten.\"\n"
         "err_exec_non_zero = \"Der Befehl '%s' endete mit %s.\"\n"
         "err_no_command = \"Kein Befehl. Siehe --hilfe-optionen.\"\n",
         "de_DE.msg:3: err_no_command: option --help-options of the English text is missing or altered"},
    };
    for (const Case& c : cases) {
        writeFile(data + "/de_DE.msg", c.content);
        const auto result = run();
        EXPECT_EQ(result.first, 1) << c.content;
        EXPECT_EQ(result.second, "msgc: " + data + "/" + c.expected + "\n") << c.content;
    }
}

TEST_F(MsgcTest, RejectsADataFileNamedForNoLocale) {
    writeFile(data + "/de.msg", "err_not_root = \"Als root starten.\"\n");
    const auto result = run();
    EXPECT_EQ(result.first, 1);
    EXPECT_EQ(result.second, "msgc: " + data + "/de.msg: no locale of this name\n");
}

} // namespace
