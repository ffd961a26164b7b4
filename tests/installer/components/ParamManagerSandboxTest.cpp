#include "installer/components/ParamManager.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/fileops.h"
#include "installer/components/ParamBool.h"
#include "installer/components/ParamEnum.h"
#include "installer/components/ParamGroup.h"
#include "installer/components/ParamHidden.h"
#include "installer/components/ParamInteger.h"
#include "installer/components/ParamPassword.h"
#include "installer/components/ParamStatic.h"
#include "installer/components/ParamString.h"
#include "installer/driver/Options.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testsupport::caught;
using testsupport::ErrorFacts;
using testsupport::makeBuild;
using testsupport::makeComponent;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string optionsIni = "/root/.dizadizezeroz/options.ini";
// Below the panel's directory, where parameters files may go.
const std::string paramsDir = "/usr/local/zeq/var";

mode_t modeOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Writes every call of the walk as a line.
class Recorder : public ParamManager::Visitor {
public:
    void begin() override { events.push_back("begin"); }
    void visit(const param_ptr_t& p) override { events.push_back("visit " + p->id); }
    void beginSubParams(const param_ptr_t& p) override { events.push_back("beginSub " + p->id); }
    void beginBranch(const param_ptr_t& p, const std::string& b) override {
        events.push_back("beginBranch " + p->id + " " + b);
    }
    void endBranch(const param_ptr_t& p, const std::string& b) override {
        events.push_back("endBranch " + p->id + " " + b);
    }
    void endSubParams(const param_ptr_t& p) override { events.push_back("endSub " + p->id); }
    void end() override { events.push_back("end"); }

    std::vector<std::string> events;
};

// Root's home directory is private to the test: the manager writes options.ini there.
class ParamManagerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fileops::get_home_dir(), "/root");
        ASSERT_TRUE(fileops::create_directory(paramsDir));
        Log::open_file(dir.file("installer.log"), true);
        Log::setFileThreshold(3);
    }

    // A component of a product to be installed; its build hands settings to `parametersFile`.
    comp_ptr_t component(const std::string& product, const std::string& parametersFile = "",
                         int status = AiComponent::INSTALL, request_mode_t request = REQ_INSTALL) {
        boost::shared_ptr<Build> build = makeBuild(product);
        build->_parameters_file = parametersFile;
        return makeComponent(build, product + "-base", status, request);
    }

    template <typename T, typename... Args>
    std::shared_ptr<T> add(ParamManager& manager, const comp_ptr_t& owner, const std::string& id,
                           Args... args) {
        auto param = std::make_shared<T>(owner, id, args...);
        manager.topLevelParams.push_back(param);
        return param;
    }

    static std::shared_ptr<ParamString> text(const comp_ptr_t& owner, const std::string& id) {
        return std::make_shared<ParamString>(owner, id, "", "", "");
    }

    std::string log() const { return readFile(dir.file("installer.log")); }

    testsupport::TempDir dir;
};

// ---------------------------------------------------------------------------------------------------------
// Walking

TEST_F(ParamManagerSandboxTest, WalkEntersTheBranchOfTheValueOrAllBranches) {
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    auto ssl = add<ParamBool>(manager, c, "ssl");
    ssl->addToBranch("true", text(c, "cert"));
    auto mode = add<ParamEnum>(manager, c, "mode");
    mode->setChoices({{"a", "A"}, {"b", "B"}, {"c", "C"}});
    mode->addToBranch("b", text(c, "y"));
    mode->addToBranch("a", text(c, "x"));

    Recorder all;
    manager.accept(all, nullptr, true);
    EXPECT_THAT(all.events,
                ElementsAre("begin", "visit ssl", "beginSub ssl", "beginBranch ssl true", "visit cert",
                            "endBranch ssl true", "endSub ssl", "visit mode", "beginSub mode",
                            "beginBranch mode a", "visit x", "endBranch mode a", "beginBranch mode b",
                            "visit y", "endBranch mode b", "endSub mode", "end"));

    ASSERT_TRUE(ssl->setValue("no"));
    ASSERT_TRUE(mode->setValue("c"));
    Recorder chosen;
    manager.accept(chosen, nullptr, true);
    EXPECT_THAT(chosen.events, ElementsAre("begin", "visit ssl", "beginSub ssl", "endSub ssl", "visit mode",
                                           "beginSub mode", "endSub mode", "end"));
}

TEST_F(ParamManagerSandboxTest, EditableOnlyLeavesOutInstalledAndUnselectedComponents) {
    ParamManager manager;
    add<ParamString>(manager, component("installed", "", AiComponent::UP2DATE), "a", "", "", "");
    add<ParamString>(manager, component("left", "", AiComponent::INSTALL, REQ_LEAVE), "b", "", "", "");

    Recorder editable;
    manager.accept(editable, nullptr, true);
    EXPECT_THAT(editable.events, ElementsAre("begin", "end"));

    Recorder every;
    manager.accept(every, nullptr, false);
    EXPECT_THAT(every.events, ElementsAre("begin", "visit a", "visit b", "end"));
}

TEST_F(ParamManagerSandboxTest, WalkFromASettingReportsNothingBeforeIt) {
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    add<ParamString>(manager, c, "first", "", "", "");
    auto group = add<ParamGroup>(manager, c, "__SUBGROUP");
    auto inner = text(c, "inner");
    group->addToBranch("", text(c, "before"));
    group->addToBranch("", inner);
    add<ParamString>(manager, c, "last", "", "", "");

    Recorder fromInner;
    manager.accept(fromInner, inner, false);
    EXPECT_THAT(fromInner.events, ElementsAre("begin", "visit inner", "endBranch __SUBGROUP ",
                                              "endSub __SUBGROUP", "visit last", "end"));

    Recorder unmet;
    manager.accept(unmet, text(c, "elsewhere"), false);
    EXPECT_THAT(unmet.events, ElementsAre("begin", "end"));
}

// ---------------------------------------------------------------------------------------------------------
// Values from options

TEST_F(ParamManagerSandboxTest, LoaderFollowsTheBranchOfTheValueItSets) {
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    auto ssl = add<ParamBool>(manager, c, "ssl");
    auto cert = text(c, "cert");
    ssl->addToBranch("true", cert);

    ParamManager::values_t values{{"moxel", {{"ssl", "yes"}, {"cert", "/etc/ssl/site.pem"}}}};
    ParamManager::ParamLoader loader(&values);
    manager.accept(loader, nullptr, false);
    EXPECT_EQ(ssl->acceptedValue, "true");
    EXPECT_EQ(cert->acceptedValue, "/etc/ssl/site.pem");
    EXPECT_EQ(loader.getErrors(), "");
}

TEST_F(ParamManagerSandboxTest, LoadFromOptionsSetsValidValuesAndReportsTheOthers) {
    mkdir("/root/.dizadizezeroz", 0700);
    writeFile(optionsIni, "[moxel]\nport=\"8443\"\nworkers=\"many\"\nname=\"kept\"\n"
                          "[other]\nsecret=\"abc\"\n");
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    auto port = add<ParamInteger>(manager, c, "port", "", "");
    auto workers = add<ParamInteger>(manager, c, "workers", "", "");
    workers->setTexts("Workers", "", "A number is expected");
    auto installed =
        add<ParamString>(manager, component("moxel", "", AiComponent::UP2DATE), "name", "", "", "");
    auto secret = add<ParamPassword>(manager, component("other"), "secret", "8", "", "", "");
    secret->setTexts("Password", "", "Too weak");

    error failure;
    try {
        manager.loadFromOptions();
        FAIL() << "rejected values were not reported";
    } catch (const error& e) {
        failure = e;
    }
    EXPECT_EQ(port->acceptedValue, "8443");
    EXPECT_FALSE(installed->hasValue());
    EXPECT_EQ(failure.getClass(), 2);
    EXPECT_EQ(failure.getSupport(), 1);
    EXPECT_EQ(failure.getText(),
              Messages().format("err_param_invalid", std::string("workers"), std::string("many")) +
                  " : A number is expected\n" +
                  Messages().format("err_param_invalid", std::string("secret"), std::string("********")) +
                  " : Too weak - " + Messages().format("param_password_too_short", std::string("8")) + "\n");
    EXPECT_THAT(log(), HasSubstr("DEBUG: ParamLoader: skip of set read-only option: [moxel][name]=kept"));
    EXPECT_THAT(log(), HasSubstr("DEBUG: ParamLoader: set component from option: [other][secret]=********"));
}

TEST_F(ParamManagerSandboxTest, LoadFromOptionsWithOneRejectedValueHasOneLine) {
    mkdir("/root/.dizadizezeroz", 0700);
    writeFile(optionsIni, "[moxel]\nport=\"x\"\nname=\"n\"\n");
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    auto port = add<ParamInteger>(manager, c, "port", "", "");
    port->setTexts("", "", "Bad port");
    auto name = add<ParamString>(manager, c, "name", "", "", "");
    ErrorFacts facts = caught([&] { manager.loadFromOptions(); });
    EXPECT_EQ(facts.text, Messages().format("err_param_invalid", std::string("port"), std::string("x")) +
                              " : Bad port\n");
    EXPECT_EQ(name->acceptedValue, "n");
}

// ---------------------------------------------------------------------------------------------------------
// Counts

TEST_F(ParamManagerSandboxTest, CountsOfComponentsWithSettings) {
    ParamManager manager;
    comp_ptr_t complete = component("moxel");
    comp_ptr_t incomplete = component("moxel");
    comp_ptr_t installed = component("moxel", "", AiComponent::UP2DATE);
    ASSERT_TRUE(add<ParamString>(manager, complete, "a", "", "", "")->setValue("1"));
    ASSERT_TRUE(add<ParamString>(manager, incomplete, "b", "", "", "")->setValue("1"));
    ASSERT_TRUE(add<ParamString>(manager, incomplete, "c", "", "", "")->setValue("1"));
    add<ParamString>(manager, incomplete, "d", "", "", "");
    add<ParamString>(manager, installed, "e", "", "", "");

    EXPECT_EQ(manager.countComponentsWithParams(), 2);
    EXPECT_EQ(manager.countComponentsWithValidParams(), 1);
}

// ---------------------------------------------------------------------------------------------------------
// Defaults

TEST_F(ParamManagerSandboxTest, DefaultsQuoteOtherTopLevelSettings) {
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    ASSERT_TRUE(add<ParamString>(manager, c, "other", "", "", "")->setValue("y"));
    auto empty = add<ParamString>(manager, c, "empty", "", "", "");
    ASSERT_TRUE(empty->setValue(""));
    auto fallback = add<ParamString>(manager, c, "fallback", "", "", "");
    fallback->setDefault("[other]-f");

    struct {
        std::string text, expanded;
    } cases[] = {
        {"[other]-x", "y-x"},    {"[nobody]-x", "[nobody]-x"}, {"[fallback]+[other]", "y-f+y"},
        {"[empty][other]", "y"}, {"a[empty][other]", "ay"},    {"[empty", "[empty"},
    };
    for (auto& c : cases) {
        std::string text = c.text;
        manager.expandDefault(text);
        EXPECT_EQ(text, c.expanded) << c.text;
    }
}

TEST_F(ParamManagerSandboxTest, DefaultThatRefersToItselfIsAnError) {
    ParamManager manager;
    comp_ptr_t c = component("moxel");
    auto self = add<ParamString>(manager, c, "self", "", "", "");
    self->setDefault("x[self]");
    auto a = add<ParamString>(manager, c, "a", "", "", "");
    a->setDefault("[b]");
    auto b = add<ParamString>(manager, c, "b", "", "", "");
    b->setDefault("[a]");

    ErrorFacts direct = caught([&] { self->getValue(); });
    EXPECT_EQ(direct.text, "The default value of the setting 'self' refers to itself\n");
    EXPECT_EQ(direct.e_class, 1);
    EXPECT_EQ(caught([&] { a->getDefault(); }).text,
              "The default value of the setting 'a' refers to itself\n");

    // A value breaks the cycle.
    ASSERT_TRUE(b->setValue("v"));
    EXPECT_EQ(a->getDefault(), "v");
}

// ---------------------------------------------------------------------------------------------------------
// options.ini

TEST_F(ParamManagerSandboxTest, OptionsFileHoldsProductsInOrderWithRegularValuesOnly) {
    {
        ParamManager manager;
        comp_ptr_t m = component("m");
        comp_ptr_t a = component("a");
        ASSERT_TRUE(add<ParamString>(manager, m, "greeting", "", "", "")->setValue("say \"hi\" \\ now"));
        ASSERT_TRUE(add<ParamString>(manager, m, "lines", "", "", "")->setValue("one\ntwo"));
        ASSERT_TRUE(add<ParamString>(manager, m, "empty", "", "", "")->setValue(""));
        add<ParamString>(manager, m, "unset", "", "", "");
        auto secure = add<ParamPassword>(manager, m, "secure_pw", "", "", "", "");
        secure->behaviourMode = Param::secure;
        ASSERT_TRUE(secure->setValue("s3cret"));
        ASSERT_TRUE(add<ParamHidden>(manager, m, "hidden")->setValue("h"));
        ASSERT_TRUE(add<ParamStatic>(manager, m, "static")->setValue("s"));
        ASSERT_TRUE(add<ParamString>(manager, a, "site", "", "", "")->setValue("example.com"));
        // A value of an installed component, as the wizards never set it.
        auto old = add<ParamString>(manager, component("z", "", AiComponent::UP2DATE), "old", "", "", "");
        old->acceptedValue = "kept";
        old->valueNotSet = false;
    }
    EXPECT_EQ(readFile(optionsIni),
              "[a]\nsite=\"example.com\"\n\n\n\n"
              "[m]\ngreeting=\"say \\\"hi\\\" \\\\ now\"\nlines=\"one\\x0atwo\"\nempty=\"\"\n\n\n\n");
    EXPECT_EQ(modeOf("/root/.dizadizezeroz"), 0700u);
    EXPECT_EQ(modeOf(optionsIni), 0600u);
}

TEST_F(ParamManagerSandboxTest, RunThatSavesNothingLeavesTheOptionsFileAsItWas) {
    const std::string saved = "[moxel]\nold=\"value\"\n# a comment\n";
    mkdir("/root/.dizadizezeroz", 0755);
    writeFile(optionsIni, saved);
    {
        // No component with settings selected (a listing, a failed run), and one that is not selected.
        ParamManager manager;
        auto left = add<ParamString>(manager, component("moxel", "", AiComponent::INSTALL, REQ_LEAVE), "old",
                                     "", "", "");
        left->acceptedValue = "changed";
        left->valueNotSet = false;
    }
    EXPECT_EQ(readFile(optionsIni), saved);
    { ParamManager nothing; }
    EXPECT_EQ(readFile(optionsIni), saved);
}

TEST_F(ParamManagerSandboxTest, OptionsFileKeepsValuesOfComponentsNotSelected) {
    mkdir("/root/.dizadizezeroz", 0700);
    writeFile(optionsIni, "[moxel]\nport=\"1\"\nname=\"old\"\nsecret=\"pw\"\ngone=\"x\"\n"
                          "[other]\nsite=\"example.com\"\n");
    {
        ParamManager manager;
        comp_ptr_t c = component("moxel");
        ASSERT_TRUE(add<ParamString>(manager, c, "name", "", "", "")->setValue("new"));
        ASSERT_TRUE(add<ParamString>(manager, c, "added", "", "", "")->setValue("a"));
        // Settings of this run that are not saved take their old values with them.
        auto secret = add<ParamPassword>(manager, c, "secret", "", "", "", "");
        secret->behaviourMode = Param::secure;
        ASSERT_TRUE(secret->setValue("pw2"));
        add<ParamString>(manager, c, "gone", "", "", "");
    }
    EXPECT_EQ(readFile(optionsIni), "[moxel]\nname=\"new\"\nadded=\"a\"\nport=\"1\"\n\n\n\n"
                                    "[other]\nsite=\"example.com\"\n\n\n\n");
}

TEST_F(ParamManagerSandboxTest, OptionsFileIsNotWrittenOverANonDirectory) {
    writeFile("/root/.dizadizezeroz", "not a directory");
    {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("moxel"), "a", "", "", "")->setValue("1"));
    }
    EXPECT_EQ(readFile("/root/.dizadizezeroz"), "not a directory");
    EXPECT_THAT(log(), HasSubstr("ERROR: path /root/.dizadizezeroz exists, but it is not directory"));
}

// Values the saver writes come back from the reader of the options record unchanged.
TEST_F(ParamManagerSandboxTest, OptionsFileRoundTrip) {
    const std::map<std::string, std::string> values = {
        {"plain", "value"},
        {"db-name", "with-dash"},
        {"1st", "leading digit"},
        {"_private", "leading underscore"},
        {"quotes", "say \"hi\""},
        {"backslashes", "C:\\x41\\path\\"},
        {"lines", "one\ntwo\r\n"},
        {"tab", "a\tb"},
        {"bytes", "caf\xc3\xa9 \x01\x7f\xff"},
        {"hash", "a # b"},
        {"blanks", "  padded  "},
        {"empty", ""},
    };
    {
        ParamManager manager;
        comp_ptr_t c = component("moxel");
        comp_ptr_t other = component("pagewright");
        for (const auto& value : values) {
            ASSERT_TRUE(add<ParamString>(manager, c, value.first, "", "", "")->setValue(value.second));
            ASSERT_TRUE(add<ParamString>(manager, other, value.first, "", "", "")->setValue(value.second));
        }
    }
    char program[] = "installer";
    char* argv[] = {program, nullptr};
    Options options(1, argv);
    EXPECT_EQ(options.componentSettings["moxel"], values);
    EXPECT_EQ(options.componentSettings["pagewright"], values);
    EXPECT_EQ(options.componentSettings.size(), 2u);

    // The next run takes them as they were given.
    ParamManager next;
    auto quotes = add<ParamString>(next, component("moxel"), "quotes", "", "", "");
    auto bytes = add<ParamString>(next, component("moxel"), "bytes", "", "", "");
    ParamManager::ParamLoader loader(&options);
    next.accept(loader, nullptr, false);
    EXPECT_EQ(quotes->acceptedValue, values.at("quotes"));
    EXPECT_EQ(bytes->acceptedValue, values.at("bytes"));
}

// ---------------------------------------------------------------------------------------------------------
// Parameters files

TEST_F(ParamManagerSandboxTest, ParametersFileHoldsEveryValueOwnerOnlyUntilTheEnd) {
    const std::string path = paramsDir + "/moxel.params";
    const std::string otherPath = paramsDir + "/other.params";
    const mode_t saved = ::umask(022);
    {
        ParamManager manager;
        comp_ptr_t base = component("moxel", path);
        comp_ptr_t web = component("moxel", path);
        comp_ptr_t other = component("other", otherPath);
        auto secure = add<ParamPassword>(manager, base, "admin_password", "", "", "", "");
        secure->behaviourMode = Param::secure;
        ASSERT_TRUE(secure->setValue("p\"w"));
        ASSERT_TRUE(add<ParamHidden>(manager, base, "token")->setValue("t"));
        add<ParamString>(manager, base, "unset", "", "", "");
        ASSERT_TRUE(add<ParamString>(manager, other, "site", "", "", "")->setValue("example.com"));
        ASSERT_TRUE(add<ParamStatic>(manager, web, "note")->setValue("read me"));
        auto old =
            add<ParamString>(manager, component("moxel", path, AiComponent::UP2DATE), "old", "", "", "");
        old->acceptedValue = "kept";
        old->valueNotSet = false;

        manager.exportToFiles();
        EXPECT_EQ(readFile(path), "admin_password=\"p\\\"w\"\ntoken=\"t\"\nnote=\"read me\"\n");
        EXPECT_EQ(readFile(otherPath), "site=\"example.com\"\n");
        EXPECT_EQ(modeOf(path), 0600u);
        EXPECT_EQ(modeOf(otherPath), 0600u);
        EXPECT_THAT(manager.exportedFiles, ElementsAre(path, otherPath));
    }
    ::umask(saved);
    EXPECT_FALSE(fileops::exists(path));
    EXPECT_FALSE(fileops::exists(otherPath));
    // The secret is neither saved nor logged.
    EXPECT_THAT(readFile(optionsIni), Not(HasSubstr("admin_password")));
    EXPECT_THAT(log(), HasSubstr("DEBUG: export to file param admin_password=********"));
    EXPECT_THAT(log(), Not(HasSubstr("p\"w")));
}

TEST_F(ParamManagerSandboxTest, SecondExportRewritesTheFiles) {
    const std::string path = paramsDir + "/moxel.params";
    ParamManager manager;
    auto name = add<ParamString>(manager, component("moxel", path), "name", "", "", "");
    ASSERT_TRUE(name->setValue("first"));
    manager.exportToFiles();
    ASSERT_TRUE(name->setValue("second"));
    manager.exportToFiles();
    EXPECT_EQ(readFile(path), "name=\"second\"\n");
    EXPECT_THAT(manager.exportedFiles, ElementsAre(path));
}

TEST_F(ParamManagerSandboxTest, UnwritableParametersFileStopsTheInstallation) {
    const std::string written = paramsDir + "/first.params";
    const std::string missing = paramsDir + "/no-such-dir/second.params";
    {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("first", written), "a", "", "", "")->setValue("1"));
        ASSERT_TRUE(add<ParamString>(manager, component("second", missing), "b", "", "", "")->setValue("2"));

        ErrorFacts facts = caught([&] { manager.exportToFiles(); });
        EXPECT_EQ(facts.text.substr(0, facts.text.find('\n')), Messages().format("err_file_create", missing));
        EXPECT_EQ(facts.e_class, 4);
        EXPECT_TRUE(fileops::exists(written));
    }
    // What was written is still taken away at the end.
    EXPECT_FALSE(fileops::exists(written));
}

TEST_F(ParamManagerSandboxTest, NonRegularParametersFileIsLeftAlone) {
    const std::string directory = paramsDir + "/params.d";
    const std::string path = paramsDir + "/other.params";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("moxel", directory), "a", "", "", "")->setValue("1"));
        ASSERT_TRUE(add<ParamString>(manager, component("other", path), "b", "", "", "")->setValue("2"));
        manager.exportToFiles();
        EXPECT_EQ(readFile(path), "b=\"2\"\n");
        EXPECT_THAT(manager.exportedFiles, ElementsAre(path));
    }
    EXPECT_TRUE(fileops::is_directory(directory));
    EXPECT_THAT(log(), HasSubstr("ERROR: can't rewrite non-regular file " + directory));
}

TEST_F(ParamManagerSandboxTest, ParametersFileStaysBelowThePanelDirectory) {
    const std::string outside = dir.file("unrelated");
    writeFile(outside, "keep me");
    ASSERT_EQ(symlink(outside.c_str(), (paramsDir + "/link.params").c_str()), 0);
    ASSERT_EQ(symlink(dir.path().c_str(), (paramsDir + "/linked-dir").c_str()), 0);
    const std::string refused[] = {
        outside,
        "/usr/local/zeqx/moxel.params",
        "/usr/local/zeq/var/../../../../tmp/unrelated",
        "var/../../x.params",
        "..",
        "/usr/local/zeq",
        "/usr/local/zeq/var/link.params",
        "/usr/local/zeq/var/linked-dir/unrelated",
    };
    for (const std::string& named : refused) {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("moxel", named), "a", "", "", "")->setValue("1"));
        ErrorFacts facts = caught([&] { manager.exportToFiles(); });
        EXPECT_THAT(facts.text, HasSubstr("names the parameters file")) << named;
        EXPECT_EQ(facts.e_class, 1) << named;
        EXPECT_THAT(manager.exportedFiles, IsEmpty()) << named;
    }
    EXPECT_EQ(readFile(outside), "keep me");

    // Relative names are taken below the panel directory.
    {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("moxel", "var/./relative.params"), "a", "", "", "")
                        ->setValue("1"));
        manager.exportToFiles();
        EXPECT_THAT(manager.exportedFiles, ElementsAre(paramsDir + "/relative.params"));
        EXPECT_EQ(readFile(paramsDir + "/relative.params"), "a=\"1\"\n");
    }
    EXPECT_FALSE(fileops::exists(paramsDir + "/relative.params"));
}

TEST_F(ParamManagerSandboxTest, WithoutAParametersFileNameAPrivateTemporaryFile) {
    std::string path;
    {
        ParamManager manager;
        ASSERT_TRUE(add<ParamString>(manager, component("nofile", ""), "c", "", "", "")->setValue("3"));
        manager.exportToFiles();
        ASSERT_EQ(manager.exportedFiles.size(), 1u);
        path = manager.exportedFiles[0];
        EXPECT_EQ(readFile(path), "c=\"3\"\n");
        EXPECT_EQ(modeOf(path), 0600u);
    }
    EXPECT_FALSE(fileops::exists(path));
}

} // namespace
