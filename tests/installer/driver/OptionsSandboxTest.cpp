#include "installer/driver/Options.h"

#include "common/runtime/Log.h"
#include "common/runtime/Messages.h"
#include "common/runtime/Opsys.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Root's home directory is private to the test; the rc file and options.ini live there.
class OptionsSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fileops::get_home_dir(), "/root");
        for (const char* name :
             {"XDG_CONFIG_HOME", "MOXEL_INSTALLER_DEBUG", "AI_WEB_UI_DEFAULT_PAGE_OVERRIDE", "WEB_SECRET"})
            unsetenv(name);
    }

    static void writeRc(const std::string& content) { writeFile("/root/.dizadizezerozrc", content); }
    static void writeOptionsIni(const std::string& content) {
        mkdir("/root/.dizadizezeroz", 0755);
        writeFile("/root/.dizadizezeroz/options.ini", content);
    }

    // A record built like the process's: defaults, then every layer.
    static Options build() {
        char program[] = "installer";
        char* argv[] = {program, nullptr};
        return Options(1, argv);
    }

    static error buildError() {
        try {
            build();
        } catch (const error& e) {
            return e;
        }
        ADD_FAILURE() << "the record was built without error";
        return error();
    }
};

TEST_F(OptionsSandboxTest, RcFileCandidates) {
    EXPECT_THAT(Options::rcFilePaths(),
                ElementsAre("/root/.config/.dizadizezerozrc", "/root/.dizadizezerozrc"));
    setenv("XDG_CONFIG_HOME", "/etc/xdg", 1);
    EXPECT_EQ(Options::rcFilePaths()[0], "/etc/xdg/.dizadizezerozrc");

    setenv("XDG_CONFIG_HOME", "conf", 1);
    EXPECT_EQ(Options::rcFilePaths()[0], "/root/conf/.dizadizezerozrc");
    EXPECT_EQ(Options::findRcFile(), "");

    writeRc("DEBUG=yes\n");
    EXPECT_EQ(Options::findRcFile(), "/root/.dizadizezerozrc");
    ASSERT_EQ(mkdir("/root/conf", 0755), 0);
    ASSERT_EQ(mkdir("/root/conf/.dizadizezerozrc", 0755), 0);
    EXPECT_EQ(Options::findRcFile(), "/root/.dizadizezerozrc");
    rmdir("/root/conf/.dizadizezerozrc");
    writeFile("/root/conf/.dizadizezerozrc", "DEBUG=no\n");
    EXPECT_EQ(Options::findRcFile(), "/root/conf/.dizadizezerozrc");
    EXPECT_FALSE(build().debug);
}

TEST_F(OptionsSandboxTest, EveryRcKeyReachesItsSetting) {
    writeRc("# settings\n"
            "SOURCE = mirror.example/moxel\n"
            "USE_MOXEL_UPDATES = no\n"
            "TARGET = \"/srv/moxel downloads\"\n"
            "PROXY_HOST = proxy.example\n"
            "PROXY_PORT = 8080\n"
            "PROXY_USER = admin\n"
            "PROXY_PASSWORD = \"s3cret #1\"\n"
            "REMOVE_PACKAGES_TREE = YES\n"
            "SKIP_EXAMINE = yes\n"
            "NOTIFY_EMAIL = ops@example.com\n"
            "CLEAR_SCREEN = no\n"
            "TRUNCATE_LOG = yes\n"
            "SEPARATE_LOGS = yes\n"
            "STRICT = yes\n"
            "DEBUG = YES\n"
            "OVERRIDE_OS_NAME = Linux\n"
            "OVERRIDE_OS_VENDOR = Debian\n"
            "OVERRIDE_OS_VERSION = 12\n"
            "OVERRIDE_OS_ARCH = x86_64\n"
            "OVERRIDE_ENVIRONMENT = vz\n"
            "RELEASE_TIERS_FILTER = stable,testing\n"
            "SHOW_HIDDEN_COMPONENTS = yes\n"
            "DOWNLOAD_RETRY_COUNT = +5\n"
            "SKIP_GPG_CHECK = yes\n"
            "EXT_CATALOG_URL = https://catalogue.example/feed\n"
            "SSL_PROTOCOLS = TLSv1.2 TLSv1.3\n"
            "SSL_CIPHERS = HIGH:!aNULL\n"
            "SSL_CIPHER_SERVER_PREFERENCE = on\n");
    Options options = build();
    EXPECT_EQ(options.source.str(), "http://mirror.example/moxel/");
    EXPECT_FALSE(options.useMoxelUpdates);
    EXPECT_EQ(options.target, "/srv/moxel downloads");
    EXPECT_EQ(options.proxyHost, "proxy.example");
    EXPECT_EQ(options.proxyPort, 8080);
    EXPECT_EQ(options.proxyUser, "admin");
    EXPECT_EQ(options.proxyPassword, "s3cret #1");
    EXPECT_TRUE(options.forceRemovePackagesTree);
    EXPECT_TRUE(options.skipComponentsCheck);
    EXPECT_EQ(options.notifyEmail, "ops@example.com");
    EXPECT_TRUE(noClearScreen);
    EXPECT_TRUE(options.truncateLog);
    EXPECT_TRUE(options.separateLogs);
    EXPECT_TRUE(options.strict);
    EXPECT_TRUE(options.debug);
    EXPECT_EQ(Opsys::override_name, "Linux");
    EXPECT_EQ(Opsys::override_vendor, "Debian");
    EXPECT_EQ(Opsys::override_version, "12");
    EXPECT_EQ(Opsys::override_arch, "x86_64");
    EXPECT_EQ(Opsys::override_environment, "vz");
    EXPECT_THAT(options.tier, ElementsAre("stable", "testing"));
    EXPECT_FALSE(options.tiersAreDefault);
    EXPECT_FALSE(options.allVersions);
    EXPECT_TRUE(options.showHiddenComponents);
    EXPECT_EQ(options.downloadRetryCount, 5);
    EXPECT_TRUE(options.skipGpgCheck);
    EXPECT_EQ(options.extCatalogUrl, "https://catalogue.example/feed");
    EXPECT_EQ(options.sslProtocols, "TLSv1.2 TLSv1.3");
    EXPECT_EQ(options.sslCiphers, "HIGH:!aNULL");
    EXPECT_EQ(options.sslCipherServerPreference, "on");
}

TEST_F(OptionsSandboxTest, RcValuesOverrideEarlierLinesAndPortIsNotChecked) {
    writeRc("TARGET=/first\nTARGET=/second\nPROXY_PORT=proxy\nCLEAR_SCREEN=yes\n");
    Options options = build();
    EXPECT_EQ(options.target, "/second");
    EXPECT_EQ(options.proxyPort, 0);
    EXPECT_FALSE(noClearScreen);
}

TEST_F(OptionsSandboxTest, ShowAllKeysEmptyTheTierFilterOnlyWithYes) {
    for (const char* key : {"SHOW_ALL_RELEASES", "SHOW_ALL_VERSIONS", "DISABLE_RELEASE_TIERS_FILTER"}) {
        writeRc(std::string(key) + "=yes\n");
        Options on = build();
        EXPECT_TRUE(on.allVersions) << key;
        EXPECT_THAT(on.tier, IsEmpty()) << key;

        writeRc(std::string(key) + "=no\n");
        Options off = build();
        EXPECT_FALSE(off.allVersions) << key;
        EXPECT_THAT(off.tier, ElementsAre("stable", "release", "current")) << key;
        EXPECT_TRUE(off.tiersAreDefault) << key;
    }
}

TEST_F(OptionsSandboxTest, RetiredAndUnknownKeysOnlyWarn) {
    testsupport::TempDir dir;
    Messages::getLocale();
    Log::open_file(dir.file("installer.log"), true);
    writeRc("USE_YUM=yes\nHOLD_PACKAGES=a b\nNO_SUCH_KEY=1\nPROXY_PASSWORD=hunter2\nPROXY_PASSWD=swordfish\n"
            "TARGET=/after\n");
    Options options = build();
    EXPECT_EQ(options.target, "/after");
    const std::string log = readFile(dir.file("installer.log"));
    EXPECT_THAT(log, HasSubstr(Messages().getMessage("err_rc_ignored") + "'USE_YUM' = 'yes'"));
    EXPECT_THAT(log, HasSubstr(Messages().getMessage("err_rc_ignored") + "'HOLD_PACKAGES' = 'a b'"));
    EXPECT_THAT(log, HasSubstr(Messages().getMessage("err_rc_param") + "'NO_SUCH_KEY'\n"));
    EXPECT_THAT(log, HasSubstr(Messages().getMessage("err_rc_param") + "'PROXY_PASSWD'\n"));
    EXPECT_THAT(log, HasSubstr("Dizadizezeroz found rcfile at /root/.dizadizezerozrc"));
    EXPECT_THAT(log, HasSubstr("Option from rc file:: 'TARGET' = '/after'"));
    EXPECT_THAT(log, Not(HasSubstr("hunter2")));
    EXPECT_THAT(log, Not(HasSubstr("swordfish")));
}

struct RcFailure {
    const char* content;
    std::string firstLine; // the fault itself; the syntax line comes before it
    int e_class, support;
};

TEST_F(OptionsSandboxTest, RcErrorsLeaveTheConstructorWithTheSyntaxLine) {
    const RcFailure failures[] = {
        {"DEBUG=Yes\n", Messages().format("err_bool_val", std::string("Yes"), std::string("DEBUG")), 2, 2},
        {"DOWNLOAD_RETRY_COUNT=0\n", Messages().format("err_retry_arg", std::string("DOWNLOAD_RETRY_COUNT")),
         2, 2},
        {"TARGET=/x\nSOURCE\n", Messages().format("err_rc_line", std::string("SOURCE")), 2, 2},
        {"TARGET=\"/x\n", Messages().getMessage("err_noquote_closed"), 2, 2},
    };
    const std::string syntax = Messages().getMessage("err_rc_syntax");
    for (const RcFailure& failure : failures) {
        writeRc(failure.content);
        error e = buildError();
        EXPECT_EQ(e.getText(), syntax + "\n" + failure.firstLine + "\n") << failure.content;
        EXPECT_EQ(e.getClass(), failure.e_class);
        EXPECT_EQ(e.getRepeat(), 1);
        EXPECT_EQ(e.getSystemState(), 1);
        EXPECT_EQ(e.getSupport(), failure.support);
    }
}

TEST_F(OptionsSandboxTest, UnreadableRcFileIsASystemError) {
    // A symbolic link is followed by the candidate test but the target cannot be read as a file.
    ASSERT_EQ(symlink("/proc/self/mem", "/root/.dizadizezerozrc"), 0);
    error e = buildError();
    EXPECT_EQ(e.getText(), Messages().getMessage("err_rc_syntax") + "\n" +
                               Messages().format("err_rcfile_open", std::string("/root/.dizadizezerozrc")) +
                               "\n");
    EXPECT_EQ(e.getClass(), 4);
}

TEST_F(OptionsSandboxTest, LayersApplyInOrder) {
    writeRc("DEBUG=no\nTARGET=/from-rc\n");
    setenv("MOXEL_INSTALLER_DEBUG", "", 1);
    setenv("AI_WEB_UI_DEFAULT_PAGE_OVERRIDE", "settings", 1);
    writeOptionsIni("[moxel]\nadmin_email=\"ops@example.com\"\n");
    Options options = build();
    EXPECT_TRUE(options.debug);
    EXPECT_EQ(options.target, "/from-rc");
    EXPECT_EQ(options.webDefaultPage, "settings");
    EXPECT_EQ(options.componentSettings["moxel"]["admin_email"], "ops@example.com");
    EXPECT_EQ(options.runMode, Options::mode_console);
}

TEST_F(OptionsSandboxTest, WebSecretNarrowsTheTiersAtTheEndOfConstruction) {
    setenv("WEB_SECRET", "abcdefghijklmnopqrst", 1);
    EXPECT_THAT(build().tier, ElementsAre("stable", "release"));
    writeRc("RELEASE_TIERS_FILTER=testing\n");
    EXPECT_THAT(build().tier, ElementsAre("testing"));
}

TEST_F(OptionsSandboxTest, FailedBuildLeavesTheDefaultRecord) {
    char program[] = "installer";
    char* argv[] = {program, nullptr};
    Options::saveArguments(1, argv);
    writeRc("TARGET=/custom\nDEBUG=maybe\n");
    EXPECT_THROW(Options::instance(), error);
    writeRc("TARGET=/custom\n");
    Options& options = Options::instance();
    EXPECT_EQ(options.target, "/root/cordavine");
    EXPECT_EQ(&options, &Options::instance());
}

TEST_F(OptionsSandboxTest, ComponentSettingsBySection) {
    writeOptionsIni("# written by the installer\n"
                    "[moxel]\n"
                    "admin_email=\"ops@example.com\"\n"
                    "greeting=\"say \\\"hi\\\"\"\n"
                    "\n"
                    "# before a header\n"
                    "[ page wright ] rest of the line\n"
                    "   port = 8080\n"
                    "port=8081\n"
                    "[moxel]\n"
                    "admin_email=\"root@example.com\"\n"
                    "# trailing comment\n");
    Options options = build();
    EXPECT_EQ(options.componentSettings["moxel"]["admin_email"], "root@example.com");
    EXPECT_EQ(options.componentSettings["moxel"]["greeting"], "say \"hi\"");
    EXPECT_EQ(options.componentSettings["pagewright"]["port"], "8081");
    EXPECT_EQ(options.componentSettings.size(), 2u);
}

// Which saved settings are passwords is known only once the components are loaded: reading the
// file logs no value.
TEST_F(OptionsSandboxTest, ComponentSettingValuesAreNotLoggedWhenRead) {
    testsupport::TempDir dir;
    Messages::getLocale();
    Log::open_file(dir.file("installer.log"), true);
    writeOptionsIni("[moxel]\nadmin_password=\"s3cret\"\n");
    Options options = build();
    EXPECT_EQ(options.componentSettings["moxel"]["admin_password"], "s3cret");
    const std::string log = readFile(dir.file("installer.log"));
    EXPECT_THAT(log, HasSubstr("read options.ini: 'admin_password'"));
    EXPECT_THAT(log, Not(HasSubstr("s3cret")));
}

TEST_F(OptionsSandboxTest, ComponentSettingsEndAtAnUnclosedHeader) {
    writeOptionsIni("[moxel]\nport=1\n[pagewr");
    Options options = build();
    EXPECT_EQ(options.componentSettings["moxel"]["port"], "1");
    EXPECT_EQ(options.componentSettings.size(), 1u);
}

TEST_F(OptionsSandboxTest, ComponentSettingBeforeAnyHeaderIsAnError) {
    writeOptionsIni("# comment\nport=8080\n[moxel]\n");
    error e = buildError();
    EXPECT_EQ(e.getText(), "broken component options.ini file: [prod_id] must precede any name=val lines\n");
    EXPECT_EQ(e.getClass(), 3);
    EXPECT_EQ(e.getSupport(), 2);

    writeOptionsIni("[moxel]\nport 8080\n");
    EXPECT_EQ(buildError().getText(), Messages().format("err_rc_eqsign", std::string("port 8080")) + "\n");
}

TEST_F(OptionsSandboxTest, UnreadableComponentSettingsAreOnlyLogged) {
    testsupport::TempDir dir;
    Messages::getLocale();
    Log::open_file(dir.file("installer.log"), true);
    ASSERT_EQ(mkdir("/root/.dizadizezeroz", 0755), 0);
    ASSERT_EQ(mkdir("/root/.dizadizezeroz/options.ini", 0755), 0);
    Options options = build();
    EXPECT_THAT(options.componentSettings, IsEmpty());
    EXPECT_THAT(readFile(dir.file("installer.log")),
                HasSubstr("ERROR: " + Messages().format("err_fileread2",
                                                        std::string("/root/.dizadizezeroz/options.ini"),
                                                        std::string("Is a directory"))));
}

} // namespace
