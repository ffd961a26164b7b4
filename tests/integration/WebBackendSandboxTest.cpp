// The web wizard's back end served over its real UNIX socket: a scripted client walks it on the
// example source to a real apt installation, breaks the protocol in every way it can, and lets it
// run idle.

#include "common/runtime/error.h"
#include "common/runtime/util.h"
#include "common/transport/WebUiTransport.h"
#include "installer/driver/Options.h"
#include "installer/driver/WebBackend.h"
#include "installer/sources/SourceUrl.h"
#include "tests/fixtures/servers/LocalServers.h"
#include "tests/integration/AptTestSupport.h"
#include "tests/support/DebugLog.h"
#include "tests/support/Golden.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <glob.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <regex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

const std::string exampleSource = std::string(MOXEL_BINARY_DIR) + "/example-source";
const std::string installerBinary = std::string(MOXEL_BINARY_DIR) + "/installer/installer";
const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";

std::string request(const std::string& command, const std::string& body = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?><request><command value=\"" +
           command + "\"/>" + body + "</request>";
}

std::string errorAnswer(const std::string& text, const std::string& className) {
    return declaration + "<dizadizezeroz status=\"error\" error_message=\"" + text + "\" error_class=\"" +
           className + "\" />";
}

// Bytes straight onto the socket, for clients that break the frame rules; the bytes that came back.
std::string rawExchange(const std::string& path, const std::string& bytes, bool endWriting) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return "connect failed";
    }
    (void)!write(fd, bytes.data(), bytes.size());
    if (endWriting)
        shutdown(fd, SHUT_WR);
    std::string received;
    char piece[4096];
    ssize_t got;
    while ((got = read(fd, piece, sizeof piece)) > 0)
        received.append(piece, size_t(got));
    close(fd);
    return received;
}

// The back end on a thread of the test, with its socket in a directory of the test's own.
class WebBackendSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::openDebugLog(logDir.file("installer.log"));
        setenv("TMPDIR", socketDir.path().c_str(), 1);
        Options::instance().runMode = Options::mode_web;
    }
    void TearDown() override {
        if (ended.valid())
            ended.wait();
    }

    void start(const std::string& source, std::chrono::milliseconds idleTimeout) {
        Options::instance().source = SourceUrl(source);
        backend = std::make_unique<driver::WebBackend>(Options::instance(), idleTimeout);
        client = std::make_unique<WebUiTransport::tcp>(WebUiTransport::socketPath());
        ended = std::async(std::launch::async, [this] {
            try {
                backend->run();
                return std::string("returned");
            } catch (const WebUiTransport::timeout&) {
                return std::string("timeout");
            }
        });
    }
    std::string ask(const std::string& command, const std::string& body = "") {
        return client->sendCommand(request(command, body));
    }
    // After exit the back end closes the connection without an answer.
    void exitBackend() {
        EXPECT_THROW(ask("exit"), error);
        EXPECT_EQ(ended.get(), "returned");
    }

    testsupport::TempDir logDir;
    testsupport::TempDir socketDir;
    std::unique_ptr<driver::WebBackend> backend;
    std::unique_ptr<WebUiTransport::tcp> client;
    std::future<std::string> ended;
};

// A source that cannot be read keeps the back end serving; each broken request gets its answer or
// loses its connection, and the next one is served.
TEST_F(WebBackendSandboxTest, BrokenRequestsAreAnsweredOrDroppedAndServingGoesOn) {
    start(socketDir.file("no-such-source"), 60s);
    const std::string ok = declaration + "<dizadizezeroz status=\"ok\" />";
    struct Case {
        std::string sent;
        std::string answer;
    };
    const Case cases[] = {
        {request("ping"), ok},
        {request("get_current_page"),
         declaration + "<dizadizezeroz status=\"ok\"><page id=\"summary\" /></dizadizezeroz>"},
        {"<req><command value=\"ping\"/></req>",
         errorAnswer("XML root node in request must have named &apos;request&apos;.&#x0A;", "internal")},
        {"not xml at all", errorAnswer("no XML root node in request package&#x0A;", "internal")},
        {"", errorAnswer("no XML root node in request package&#x0A;", "internal")},
        {request("frobnicate"), errorAnswer("Unknown command &apos;frobnicate&apos;&#x0A;", "internal")},
        {request(""), errorAnswer("Unknown command &apos;&apos;&#x0A;", "internal")},
        {request("another_command"), errorAnswer("not implemented yet&#x0A;", "internal")},
        {request("component_selection", "<products/>"),
         declaration + "<dizadizezeroz status=\"bad_page\"><page id=\"summary\" /></dizadizezeroz>"},
        {request("get_progress"),
         declaration + "<dizadizezeroz status=\"bad_page\"><page id=\"summary\" /></dizadizezeroz>"},
        {request("clear"), ok},
    };
    for (const Case& c : cases)
        EXPECT_EQ(client->sendCommand(c.sent), c.answer) << c.sent;

    const std::string missingCommand = client->sendCommand("<request/>");
    EXPECT_NE(missingCommand.find("status=\"error\""), std::string::npos) << missingCommand;
    EXPECT_NE(missingCommand.find("error_class=\"user\""), std::string::npos) << missingCommand;

    const std::string socketFile = WebUiTransport::socketPath();
    const std::string ping = request("ping");
    const std::string frameFaults[] = {
        std::to_string(ping.size()) + "\n" + ping + "x", // longer than announced
        std::to_string(ping.size() + 10) + "\n" + ping,  // short, then closed
        "",                                              // closed before a byte
    };
    for (const std::string& bytes : frameFaults) {
        EXPECT_EQ(rawExchange(socketFile, bytes, true), "") << bytes;
        EXPECT_EQ(ask("ping"), ok);
    }
    exitBackend();
}

TEST_F(WebBackendSandboxTest, IdleBackEndWithoutAJobEndsByTimeout) {
    start(socketDir.file("no-such-source"), 300ms);
    EXPECT_EQ(ask("ping"), declaration + "<dizadizezeroz status=\"ok\" />");
    EXPECT_EQ(ended.get(), "timeout");
}

// The installer binary reaches the back end with --web-interface and ends on exit.
TEST_F(WebBackendSandboxTest, WebInterfaceModeServesTheSocketUntilExit) {
    const std::string command =
        "cd / && exec " + util::shell_quote(installerBinary) + " --web-interface --source " +
        util::shell_quote(socketDir.file("no-such-source")) + " >" + logDir.file("out") + " 2>&1 </dev/null";
    auto exited = std::async(std::launch::async, [&] { return std::system(command.c_str()); });
    std::string socketFile;
    for (int attempt = 0; attempt < 600 && socketFile.empty(); ++attempt) {
        glob_t found{};
        if (glob((socketDir.path() + "/moxel-webui-*/socket").c_str(), 0, nullptr, &found) == 0)
            socketFile = found.gl_pathv[0];
        globfree(&found);
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_FALSE(socketFile.empty()) << testsupport::readFile(logDir.file("out"));
    WebUiTransport::tcp binaryClient(socketFile);
    EXPECT_EQ(binaryClient.sendCommand(request("ping")), declaration + "<dizadizezeroz status=\"ok\" />");
    EXPECT_THROW(binaryClient.sendCommand(request("exit")), error);
    const int status = exited.get();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::readFile(logDir.file("out"));
    EXPECT_FALSE(testsupport::exists(socketFile));
}

// The answer as kept under tests/fixtures/web/walk/: the local server's address and the build
// times of the freshly made packages replaced by names.
std::string normalised(std::string answer, const std::string& serverUrl) {
    for (size_t at; (at = answer.find(serverUrl)) != std::string::npos;)
        answer.replace(at, serverUrl.size(), "@SOURCE@/");
    return std::regex_replace(answer, std::regex("serverbuildtime=\"[0-9]+\""),
                              "serverbuildtime=\"@BUILDTIME@\"");
}

std::string installedExamplePackages() {
    testsupport::TempDir dir;
    packagetest::run("dpkg-query -W -f='${Package} ${Version} ${db:Status-Abbrev}\\n' 'moxel-example-*' >" +
                     dir.file("state") + " 2>/dev/null");
    return testsupport::readFile(dir.file("state"));
}

// The wizard from the first page to a finished installation. A pause longer than the idle time-out
// while the installation runs does not end the back end; once the browser has seen the installation
// finished, the next idle time-out does.
TEST_F(WebBackendSandboxTest, WizardWalkInstallsTheExampleProduct) {
    testsupport::TempDir systemRelease;
    apttest::useLocalSystemRelease(systemRelease.path());
    testservers::HttpServer server{exampleSource};
    start(server.url(), 400ms);

    struct Step {
        std::string command;
        std::string body;
        const char* golden;
    };
    const std::string products = "<products><product id=\"moxel-example\" release_id=\"moxel-example-1.0.0\" "
                                 "installation_type=\"Full\" customize=\"true\"/></products>";
    const Step steps[] = {
        {"ping", "", "ping.xml"},
        {"get_releases_list", "", "releases.xml"},
        {"get_preferences", "", "preferences.xml"},
        {"product_selection", products, "product-selection.xml"},
        {"get_current_page", "", "page-installation-types.xml"},
        {"installation_type_selection", products, "installation-type-selection.xml"},
        {"get_components_list", "", "components.xml"},
        {"component_selection",
         "<products><product id=\"moxel-example\"><components><component id=\"base\" state=\"install\"/>"
         "<component id=\"web\" state=\"install\"/></components></product></products>",
         "component-selection.xml"},
        {"get_pre_examine", "", "pre-examine.xml"},
        {"get_components_settings", "", "settings.xml"},
        {"get_current_page", "", "page-installation.xml"},
    };
    for (const Step& step : steps) {
        const std::string answer = normalised(ask(step.command, step.body), server.url());
        EXPECT_EQ(answer, testsupport::golden("web/walk", step.golden, answer)) << step.command;
    }

    // Waits that time out while the installation runs are ignored.
    std::this_thread::sleep_for(1500ms);
    ASSERT_NE(ended.wait_for(0s), std::future_status::ready)
        << "the back end ended while the installation ran";
    std::string progress;
    for (int poll = 0; poll < 3000; ++poll) {
        progress = ask("get_progress_delta");
        if (progress.find("status=\"completed\"") != std::string::npos ||
            progress.find("status=\"failed\"") != std::string::npos)
            break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(progress.find("status=\"completed\""), std::string::npos) << progress;
    EXPECT_EQ(installedExamplePackages(), "moxel-example-core 1.0.0-1 ii \nmoxel-example-web 1.0.0-1 ii \n");
    EXPECT_EQ(ended.get(), "timeout");
}

} // namespace
