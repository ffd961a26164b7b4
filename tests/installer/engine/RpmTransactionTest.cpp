#include "installer/engine/RpmTransaction.h"

#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(RpmTransactionTest, ATransactionThatCannotBeMadeIsASystemError) {
    testsupport::TempDir work;
    testsupport::openDebugLog(work.file("installer.log"));
    testsupport::ErrorFacts facts = testsupport::caught([] { RpmTransaction transaction("relative/root"); });
    EXPECT_EQ("Error: Unable to install RPM packages without librpm.\nrelative/root\n", facts.text);
    EXPECT_EQ(4, facts.e_class);
}

} // namespace
