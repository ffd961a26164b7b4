// The main of the test binaries that use the runtime: before each test case the process-wide state
// of the runtime and what the process started with are put back as a new process has them, so that
// cases pass whether each runs in a process of its own or all run in one. Inside the test sandbox,
// the sandbox is made as new as well.

#include "common/packages/SourceSysRPM.h"
#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/Progress.h"
#include "common/runtime/fileops.h"
#include "tests/support/FreshSandbox.h"
#include "tests/support/ProcessStart.h"

#include <gtest/gtest.h>

namespace {

class FreshProcessState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        const std::string unrestored = start.restore();
        if (!unrestored.empty())
            ADD_FAILURE() << "The process could not be put back as it started: " << unrestored;
        Log::reset();
        Messages::reset();
        fileops::forget_home_dir();
        Opsys::override_name.clear();
        Opsys::override_vendor.clear();
        Opsys::override_version.clear();
        Opsys::override_arch.clear();
        Opsys::override_environment.clear();
        Opsys::forgetServer();
        Progress::reset();
        SourceSysRPM::keepFullListFile = false;
        const std::string failed = testsupport::freshSandbox();
        if (!failed.empty())
            ADD_FAILURE() << "The sandbox could not be made as new: " << failed;
    }

    const testsupport::ProcessStart start;
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshProcessState);
    return RUN_ALL_TESTS();
}
