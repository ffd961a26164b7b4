#include "installer/components/ComponentManager.h"
#include "installer/engine/Bootstrapper.h"
#include "tests/installer/components/ComponentFixtures.h"
#include "tests/support/DebugLog.h"
#include "tests/support/TempDir.h"

#include <boost/make_shared.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Two products. "alpha": base to be installed, mail installed and marked for upgrade, web installed and
// left alone. "beta": its only component is to be removed. Every action appends its name to a trace
// file, so the trace shows what ran and in which order.
class BootstrapperRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(work.file("installer.log"));
        alpha = testsupport::makeBuild("alpha");
        beta = testsupport::makeBuild("beta");
        base = testsupport::makeComponent(alpha, "base", AiComponent::INSTALL, REQ_INSTALL);
        mail = testsupport::makeComponent(alpha, "mail", AiComponent::UPGRADE, REQ_LEAVE);
        mail->packagesUpgraded = true;
        web = testsupport::makeComponent(alpha, "web", AiComponent::UP2DATE, REQ_LEAVE);
        tool = testsupport::makeComponent(beta, "tool", AiComponent::UP2DATE, REQ_REMOVE);
        components.nodes = {base, mail, web, tool};

        add(base->bootstrapperActions, "prep", "execute", 10, "install", "base-prep-10");
        add(base->bootstrapperActions, "post", "execute", 0, "install", "base-post-fails; false", false);
        add(base->bootstrapperActions, "post", "execute", 1, "install", "base-post-1");
        add(base->bootstrapperActions, "post", "execute", 20, "install", "base-post-critical; exit 3");
        add(base->bootstrapperActions, "post", "execute", 30, "install", "base-post-30");
        add(mail->bootstrapperActions, "prep", "execute", 10, "install", "mail-prep-10");
        add(web->bootstrapperActions, "prep", "execute", 0, "install", "web-prep");
        add(tool->bootstrapperActions, "prep", "execute", 0, "install", "tool-prep");

        auto& alphaActions = alpha->_bootstrapper_actions;
        add(alphaActions, "prep", "execute", 10, "install", "alpha-prep-10");
        add(alphaActions, "prep", "execute", 5, "install", "alpha-prep-5");
        add(alphaActions, "prep", "execute", 5, "remove", "alpha-prep-remove");
        add(alphaActions, "prep", "commit", 0, "install", "alpha-prep-commit");
        add(alphaActions, "prep", "rollback", 0, "install", "alpha-prep-rollback");
        add(alphaActions, "post", "commit", 0, "install", "alpha-post-commit");
        add(alphaActions, "post", "rollback", 0, "install", "alpha-post-rollback");
        add(alphaActions, "pkgs", "rollback", 0, "install", "alpha-pkgs-rollback");
        auto& betaActions = beta->_bootstrapper_actions;
        add(betaActions, "prep", "execute", 7, "remove", "beta-prep-remove-7");
        add(betaActions, "prep", "execute", 0, "install", "beta-prep-install");
        add(betaActions, "prep", "commit", 0, "remove", "beta-prep-commit");
    }

    // `command` runs after its name is traced: "name; more".
    void add(Bootstrapper::actions_t& list, const std::string& sequence, const std::string& stage, int order,
             const std::string& operation, const std::string& command, bool critical = true) {
        auto action = boost::make_shared<Bootstrapper::Action_ExecCmd>();
        action->sequence = sequence;
        action->stage = stage;
        action->sequenceOrder = order;
        action->operation = operation;
        action->critical = critical;
        const std::string::size_type rest = command.find(';');
        action->execCmd = "echo " + command.substr(0, rest) + " >> '" + work.file("trace") + "'" +
                          (rest == std::string::npos ? "" : command.substr(rest));
        list.push_back(action);
    }

    std::vector<std::string> trace() const {
        std::vector<std::string> lines;
        std::istringstream in(testsupport::readFile(work.file("trace")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    testsupport::TempDir work;
    boost::shared_ptr<Build> alpha, beta;
    comp_ptr_t base, mail, web, tool;
    ComponentManager components;
};

TEST_F(BootstrapperRunTest, SequencesRunInOrderWithCommitOrRollback) {
    struct Case {
        const char* sequence; // "pkgs failure" runs the failure actions
        bool succeeds;
        std::vector<std::string> trace;
    } cases[] = {
        // Order first; equal orders keep components (in walk order) before builds (by product id). The
        // product whose components only go contributes its "remove" actions.
        {"prep",
         true,
         {"alpha-prep-5", "beta-prep-remove-7", "base-prep-10", "mail-prep-10", "alpha-prep-10",
          "alpha-prep-commit", "beta-prep-commit"}},
        // A non-critical failure is passed over; a critical one stops the sequence, and the rollback
        // actions run instead of the commit actions.
        {"post", false, {"base-post-fails", "base-post-1", "base-post-critical", "alpha-post-rollback"}},
        {"pkgs failure", true, {"alpha-pkgs-rollback"}},
        // Nothing declared for the sequence: success without running anything.
        {"validate", true, {}},
    };
    for (const Case& c : cases) {
        std::remove(work.file("trace").c_str());
        const bool succeeded = std::string(c.sequence) == "pkgs failure"
                                   ? Bootstrapper::performPkgsFailureActions(&components)
                                   : Bootstrapper::performActions(&components, c.sequence);
        EXPECT_EQ(succeeded, c.succeeds) << c.sequence;
        EXPECT_EQ(trace(), c.trace) << c.sequence;
    }
}

TEST_F(BootstrapperRunTest, InstalledProductWithoutChangesContributesItsInstallActions) {
    // Nothing of alpha is requested: its build still counts as staying ("install"), but no component
    // contributes; beta's component stays too, so beta's "install" actions replace its "remove" ones.
    base->requestMode = REQ_LEAVE;
    base->installMode = AiComponent::UP2DATE;
    mail->packagesUpgraded = false;
    tool->requestMode = REQ_LEAVE;
    Bootstrapper::SequenceMatch match{"prep", "execute", ""};
    Bootstrapper::action_refs_t actions;
    Bootstrapper::getActionsSequence(&components, match, actions);
    std::vector<std::string> names;
    for (const Bootstrapper::Action* action : actions) {
        const std::string& command = static_cast<const Bootstrapper::Action_ExecCmd*>(action)->execCmd;
        names.push_back(command.substr(5, command.find(" >> ") - 5));
    }
    EXPECT_THAT(names, ::testing::ElementsAre("beta-prep-install", "alpha-prep-5", "alpha-prep-10"));
}

TEST_F(BootstrapperRunTest, MissingComponentManagerIsAnInternalError) {
    EXPECT_THROW(Bootstrapper::performActions(nullptr, "prep"), error);
}

} // namespace
