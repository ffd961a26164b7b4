#include "installer/engine/SystemSpecificConfigurator.h"

#include "common/packages/Package.h"
#include "common/runtime/error.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records which operations ran; answers from a fixed list of packages.
class RecordingConfigurator : public SystemSpecificConfigurator {
public:
    void reconfigureSources() override { calls.push_back("reconfigure"); }
    void prepareAvailablePackagesList(names_iterator, names_iterator) override { calls.push_back("prepare"); }
    std::shared_ptr<Installer> createInstaller(ComponentManager&, StageActions&) override { return nullptr; }

    std::vector<std::string> calls;
    std::map<std::string, const Package*> offered;
    std::string checkText = "repository moxel is unreachable";
    // doConfigureSystem fails after it marked itself configured, or before.
    bool failConfigure = false;
    bool configuredBeforeFailure = false;

    bool isConfigured() const { return configured; }
    bool willCommit() const { return commitChanges; }

protected:
    const Package* doGetAvailablePackage(const std::string& name) override {
        calls.push_back("get " + name);
        auto found = offered.find(name);
        return found == offered.end() ? nullptr : found->second;
    }
    void doConfigureSystem() override {
        calls.push_back("configure");
        if (configuredBeforeFailure)
            configured = true;
        if (failConfigure)
            throw error(4, 1, 1, 2) << "cannot write the repository file";
    }
    std::string doCheckConfiguration() override {
        calls.push_back("check");
        return checkText;
    }
    void doPrepare() override { calls.push_back("do-prepare"); }
    void doCleanup() override { calls.push_back("cleanup"); }
    void doFinalize() override { calls.push_back(commitChanges ? "commit" : "rollback"); }
};

// The base's own check text, for a configurator that does not override it.
class PlainConfigurator : public RecordingConfigurator {
protected:
    std::string doCheckConfiguration() override { return SystemSpecificConfigurator::doCheckConfiguration(); }
};

using Calls = std::vector<std::string>;

std::string internalErrorText(int line) {
    return internal_error("installer/SystemSpecificConfigurator", line).getText();
}

TEST(SystemSpecificConfiguratorTest, ConfiguresOnceThenAnswersQueries) {
    RecordingConfigurator configurator;
    Package offered("moxel-mail", "2.0-1");
    configurator.offered["moxel-mail"] = &offered;
    configurator.configureSystem();
    EXPECT_TRUE(configurator.isConfigured());

    EXPECT_EQ(&offered, configurator.getAvailablePackage("moxel-mail"));
    EXPECT_EQ(nullptr, configurator.getAvailablePackage("absent"));

    // A second configuration is refused and runs nothing.
    try {
        configurator.configureSystem();
        FAIL() << "configured twice";
    } catch (const error& e) {
        EXPECT_EQ(internalErrorText(31), e.getText());
        EXPECT_EQ(3, e.getClass());
    }
    EXPECT_EQ((Calls{"configure", "get moxel-mail", "get absent"}), configurator.calls);
}

TEST(SystemSpecificConfiguratorTest, QueriesBeforeConfigurationAreRefused) {
    RecordingConfigurator configurator;
    try {
        configurator.getAvailablePackage("moxel-mail");
        FAIL() << "answered before configuration";
    } catch (const error& e) {
        EXPECT_EQ("Internal error: improper sequence of called functions.\n", e.getText());
        EXPECT_EQ(3, e.getClass());
        EXPECT_EQ(1, e.getRepeat());
        EXPECT_EQ(1, e.getSystemState());
        EXPECT_EQ(3, e.getSupport());
    }
    try {
        configurator.checkConfiguration();
        FAIL() << "checked before configuration";
    } catch (const error& e) {
        EXPECT_EQ(internalErrorText(45), e.getText());
    }
    EXPECT_TRUE(configurator.calls.empty());
}

TEST(SystemSpecificConfiguratorTest, TheCheckRunsOnceAndItsTextIsKept) {
    RecordingConfigurator configurator;
    configurator.configureSystem();
    EXPECT_EQ("repository moxel is unreachable", configurator.checkConfiguration());
    configurator.checkText = "changed later";
    EXPECT_EQ("repository moxel is unreachable", configurator.checkConfiguration());
    EXPECT_EQ((Calls{"configure", "check"}), configurator.calls);

    PlainConfigurator plain;
    plain.configureSystem();
    EXPECT_EQ("", plain.checkConfiguration());
}

TEST(SystemSpecificConfiguratorTest, EndOfRunTouchesNothingUntilConfigured) {
    RecordingConfigurator configurator;
    configurator.cleanup();
    configurator.finalize();
    configurator.rollback();
    EXPECT_TRUE(configurator.calls.empty());
}

TEST(SystemSpecificConfiguratorTest, AFailedConfigurationStaysUnconfiguredUnlessItSaidOtherwise) {
    struct Case {
        bool configuredBeforeFailure;
        Calls endOfRun;
    } cases[] = {
        {false, {"configure"}},
        // Something was written before the failure: the end of the run must undo it.
        {true, {"configure", "cleanup", "rollback"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configuredBeforeFailure);
        RecordingConfigurator configurator;
        configurator.failConfigure = true;
        configurator.configuredBeforeFailure = c.configuredBeforeFailure;
        try {
            configurator.configureSystem();
            FAIL() << "the failure was swallowed";
        } catch (const error& e) {
            EXPECT_EQ("cannot write the repository file\n", e.getText());
            EXPECT_EQ(4, e.getClass());
        }
        EXPECT_EQ(c.configuredBeforeFailure, configurator.isConfigured());
        configurator.cleanup();
        configurator.finalize();
        EXPECT_EQ(c.endOfRun, configurator.calls);
    }
}

TEST(SystemSpecificConfiguratorTest, CommitOnlyAfterSuccessAndRollbackWins) {
    RecordingConfigurator configurator;
    configurator.configureSystem();
    configurator.finalize();
    configurator.setCommitChanges();
    EXPECT_TRUE(configurator.willCommit());
    configurator.finalize();
    // Going back after a commit request still undoes the changes.
    configurator.rollback();
    EXPECT_FALSE(configurator.willCommit());
    EXPECT_EQ((Calls{"configure", "rollback", "commit", "rollback"}), configurator.calls);
}

} // namespace
