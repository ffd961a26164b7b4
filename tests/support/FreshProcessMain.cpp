// The main of the test binaries that use the runtime: before each test case the process-wide state
// of the runtime is put back as a new process has it, so that cases pass whether each runs in a
// process of its own or all run in one.

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/Progress.h"
#include "common/runtime/fileops.h"

#include <gtest/gtest.h>

namespace {

class FreshProcessState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
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
    }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshProcessState);
    return RUN_ALL_TESTS();
}
