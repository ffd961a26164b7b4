// Linked into the test binaries of the installer library: before each test case the installer's
// process-wide state is put back as a new process has it.

#include "installer/catalogue/ProductInf3FileGuard.h"

#include <gtest/gtest.h>

namespace {

class FreshInstallerState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ProductInf3FileGuard::forgetNewBuild(); }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshInstallerState);
    return true;
}();

} // namespace
