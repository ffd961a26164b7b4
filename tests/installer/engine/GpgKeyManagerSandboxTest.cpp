// Key import into the sandbox's own apt key ring and rpm database.

#include "installer/engine/AptGpgKeyManager.h"
#include "installer/engine/YumGpgKeyManager.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/ErrorFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <glob.h>

#include <string>

using ::testing::HasSubstr;

namespace {

const std::string fingerprint = "E6331BF5C6A61BFAB24291AF62E263B7821B8961";

int temporaryKeyFiles() {
    glob_t found{};
    const int count =
        glob("/tmp/gpg.public.key.*", 0, nullptr, &found) == 0 ? static_cast<int>(found.gl_pathc) : 0;
    globfree(&found);
    return count;
}

std::string commandOutput(const std::string& command) {
    testsupport::TempDir out;
    packagetest::run(command + " > " + out.file("output") + " 2>/dev/null");
    return testsupport::readFile(out.file("output"));
}

class GpgKeyManagerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::openDebugLog(work.file("installer.log")); }

    testsupport::TempDir work;
};

TEST_F(GpgKeyManagerSandboxTest, AptImportFillsTheKeyRingAndRemovesItsTemporaryFile) {
    apttest::forgetSystemSources();
    std::string key = apttest::repositoryKey();
    key.pop_back();
    AptGpgKeyManager().importKey(key);
    EXPECT_THAT(
        commandOutput("gpg --no-default-keyring --keyring /etc/apt/trusted.gpg --with-colons --list-keys"),
        HasSubstr(fingerprint));
    EXPECT_EQ(temporaryKeyFiles(), 0);

    const testsupport::ErrorFacts failure =
        testsupport::caught([] { AptGpgKeyManager().importKey("not a key"); });
    EXPECT_EQ(failure.text, "Unable to import GPG key.\n");
    EXPECT_EQ(failure.e_class, 4);
    EXPECT_EQ(temporaryKeyFiles(), 0);
}

TEST_F(GpgKeyManagerSandboxTest, RpmImportKeepsTheKeysOfOnePassAndDropsTheMakersEarlierOnes) {
    const std::vector<std::string>& makers = YumGpgKeyManager::makerIdentities();
    const std::string release = apttest::generateKey(work, makers.at(0), "release.gpg");
    const std::string packaging = apttest::generateKey(work, makers.at(1), "packaging.gpg");
    const std::string keys = "rpm -qa 'gpg-pubkey*' --queryformat '%{Summary}\\n' | sort";
    {
        YumGpgKeyManager pass;
        pass.importKey(release);
        pass.importKey(packaging);
        pass.importKey(apttest::repositoryKey());
    }
    // Sorted: packaging, release, test repository.
    EXPECT_EQ(commandOutput(keys), makers.at(1) + " public key\n" + makers.at(0) + " public key\n" +
                                       "Moxel Test Repository <repo@moxel.invalid> public key\n");

    // The next pass starts by taking out the maker's keys, whatever it imports.
    YumGpgKeyManager().importKey(packaging);
    EXPECT_EQ(commandOutput(keys),
              makers.at(1) + " public key\nMoxel Test Repository <repo@moxel.invalid> public key\n");
    EXPECT_EQ(temporaryKeyFiles(), 0);
}

} // namespace
