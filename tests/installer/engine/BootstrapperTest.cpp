#include "installer/engine/Bootstrapper.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/error.h"
#include "common/runtime/tinybind.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <cstdlib>
#include <memory>
#include <sstream>

using ::testing::HasSubstr;

namespace {

class BootstrapperTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logs.file("installer.log"));
    }

    std::string logText() const { return testsupport::readFile(logs.file("installer.log")); }

    // The actions of a bootstrapper element; the element is a copy, as build descriptions keep it.
    Bootstrapper::actions_t load(const std::string& xml, const std::string& parent = "base") {
        document.Clear();
        document.Parse(xml.c_str());
        EXPECT_FALSE(document.Error()) << document.ErrorDesc();
        copy = std::make_unique<TiXmlElement>(*document.RootElement());
        Bootstrapper::actions_t actions;
        Bootstrapper::loadActions(tinybind::Element(copy.get()), parent, actions);
        return actions;
    }

    static std::string fields(const Bootstrapper::Action& action) {
        const auto& command = dynamic_cast<const Bootstrapper::Action_ExecCmd&>(action);
        std::ostringstream out;
        out << command.sequence << "|" << command.stage << "|" << command.sequenceOrder << "|"
            << command.operation << "|" << command.parentName << "|" << (command.critical ? "critical" : "-")
            << "|" << command.execCmd << "|" << command.arch;
        return out.str();
    }

    testsupport::TempDir logs;
    TiXmlDocument document;
    std::unique_ptr<TiXmlElement> copy;
};

TEST_F(BootstrapperTest, ActionsTakeTheirAttributesAndDefaults) {
    struct Case {
        const char* action;
        const char* fields;
    } cases[] = {
        {R"(<action sequence="prep" exec-cmd="true"/>)", "prep|execute|0|install|base|critical|true|"},
        {R"(<action sequence="post" stage="commit" sequence-order="-20" operation="remove" critical="false"
                    arch="x86_64" exec-cmd="echo done"/>)",
         "post|commit|-20|remove|base|-|echo done|x86_64"},
        {R"(<action sequence="pkgs" stage="rollback" sequence-order="+7" exec-cmd="x"/>)",
         "pkgs|rollback|7|install|base|critical|x|"},
        // Only the exact word turns criticality off.
        {R"(<action sequence="prep" critical="False" exec-cmd="x"/>)",
         "prep|execute|0|install|base|critical|x|"},
        {R"(<action sequence="prep" critical="no" exec-cmd="x"/>)",
         "prep|execute|0|install|base|critical|x|"},
        // A stage given as empty stays empty: only an absent attribute takes the default.
        {R"(<action sequence="prep" stage="" exec-cmd="x"/>)", "prep||0|install|base|critical|x|"},
    };
    for (const Case& c : cases) {
        Bootstrapper::actions_t actions = load(std::string("<bootstrapper>") + c.action + "</bootstrapper>");
        ASSERT_EQ(actions.size(), 1u) << c.action;
        EXPECT_EQ(fields(*actions[0]), c.fields) << c.action;
    }
}

TEST_F(BootstrapperTest, ActionsAreAppendedInDocumentOrderAndLogged) {
    Bootstrapper::actions_t actions;
    actions.push_back(
        load(R"(<bootstrapper><action sequence="post" exec-cmd="first"/></bootstrapper>)").front());
    document.Clear();
    document.Parse(R"(<bootstrapper>
                        <package name="p" file="p.deb" version="1" release="1" arch="all"/>
                        <action sequence="prep" sequence-order="10" exec-cmd="second"/>
                        <note/>
                        <action sequence="post" stage="commit" exec-cmd="third"/>
                      </bootstrapper>)");
    Bootstrapper::loadActions(tinybind::Element(document.RootElement()), "moxel-18.0.1", actions);

    ASSERT_EQ(actions.size(), 3u);
    EXPECT_EQ(fields(*actions[0]), "post|execute|0|install|base|critical|first|");
    EXPECT_EQ(fields(*actions[1]), "prep|execute|10|install|moxel-18.0.1|critical|second|");
    EXPECT_EQ(fields(*actions[2]), "post|commit|0|install|moxel-18.0.1|critical|third|");
    EXPECT_THAT(logText(), HasSubstr(" add action sequence: prep, sequence_order:10, operation:install, "
                                     "stage:execute, exec_cmd: second\n"));
}

TEST_F(BootstrapperTest, MissingRequiredAttributeNamesItAndItsElement) {
    for (const char* attribute : {"sequence", "exec-cmd"}) {
        const std::string action =
            std::string("<action ") +
            (std::string(attribute) == "sequence" ? "exec-cmd=\"x\"" : "sequence=\"prep\"") + "/>";
        try {
            load("<bootstrapper>\n  " + action + "\n</bootstrapper>");
            ADD_FAILURE() << attribute << ": no error";
        } catch (const tinybind::err& e) {
            EXPECT_THAT(e.text, HasSubstr("'" + std::string(attribute) + "'")) << e.text;
            EXPECT_THAT(e.text, HasSubstr("element action (row:2 col:3)")) << e.text;
        }
    }
}

TEST_F(BootstrapperTest, NonNumericSequenceOrderIsABuildDescriptionError) {
    try {
        load(R"(<bootstrapper><action sequence="prep" sequence-order="1O" exec-cmd="x"/></bootstrapper>)");
        FAIL() << "no error";
    } catch (const error& e) {
        EXPECT_THAT(e.getText(), HasSubstr(Messages().getMessage("err_non_digit")));
        EXPECT_THAT(e.getText(), HasSubstr("'1O'"));
        EXPECT_THAT(e.getText(), HasSubstr("base"));
        EXPECT_EQ(e.getClass(), error::repository);
        EXPECT_EQ(e.getSupport(), 3);
    }
}

TEST_F(BootstrapperTest, ReplaceInCommandReplacesEveryOccurrenceWithoutRescanning) {
    struct Case {
        const char* command;
        const char* from;
        const char* to;
        const char* result;
    } cases[] = {
        {"patch --to $MICROUPDATE_VERSION && echo $MICROUPDATE_VERSION", "$MICROUPDATE_VERSION", "18.0.1.3",
         "patch --to 18.0.1.3 && echo 18.0.1.3"},
        {"aaa", "a", "aa", "aaaaaa"},
        {"$V", "$V", "[$V]", "[$V]"},
        {"nothing here", "$V", "1", "nothing here"},
        {"abab", "aba", "x", "xb"},
        {"", "$V", "1", ""},
    };
    for (const Case& c : cases) {
        Bootstrapper::Action_ExecCmd action;
        action.execCmd = c.command;
        action.replaceInCommand(c.from, c.to);
        EXPECT_EQ(action.execCmd, c.result) << c.command;
    }
}

TEST_F(BootstrapperTest, CloneCopiesEveryFieldAndIsIndependent) {
    Bootstrapper::actions_t actions = load(
        R"(<bootstrapper><action sequence="post-patch" stage="commit" sequence-order="3" operation="remove"
                critical="false" arch="noarch" exec-cmd="apply $MICROUPDATE_VERSION"/></bootstrapper>)",
        "moxel-18.0.1");
    boost::shared_ptr<Bootstrapper::Action> clone = actions[0]->clone();
    EXPECT_EQ(fields(*clone), fields(*actions[0]));

    clone->replaceInCommand("$MICROUPDATE_VERSION", "2");
    EXPECT_EQ(dynamic_cast<Bootstrapper::Action_ExecCmd&>(*clone).execCmd, "apply 2");
    EXPECT_EQ(dynamic_cast<Bootstrapper::Action_ExecCmd&>(*actions[0]).execCmd, "apply $MICROUPDATE_VERSION");
}

TEST_F(BootstrapperTest, ExecuteSucceedsExactlyOnExitCodeZeroAndLogsTheOutput) {
    struct Case {
        const char* command;
        bool success;
    } cases[] = {
        {"echo ran-ok", true},
        {"echo ran-failing; exit 3", false},
        {"false", false},
    };
    for (const Case& c : cases) {
        Bootstrapper::Action_ExecCmd action;
        action.parentName = "base";
        action.sequence = "prep";
        action.execCmd = c.command;
        EXPECT_EQ(action.execute(), c.success) << c.command;
    }
    const std::string log = logText();
    EXPECT_THAT(log, HasSubstr(" Execute bootstrapper action: echo ran-ok\n"));
    // Whole seconds: a run that crosses a second boundary reads 1.
    EXPECT_THAT(log,
                ::testing::ContainsRegex("Bootstrapper has finished action \\(exec time: [01] sec\\.\\): "
                                         "parent_name='base', sequence='prep', stage='execute', "
                                         "sequence_order='0', operation='install', exec_cmd='echo ran-ok', "
                                         "m_arch='', output: ran-ok\n"));
}

} // namespace
