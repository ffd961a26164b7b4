#include "common/transport/WebUiTransport.h"

#include "common/runtime/error.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using tcp = WebUiTransport::tcp;

// A raw connection to a socket path, for clients that break the frame rules.
class RawClient {
public:
    explicit RawClient(const std::string& path) {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("connect failed");
    }
    ~RawClient() { close(fd); }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void endWriting() { shutdown(fd, SHUT_WR); }
    // Everything until the server closes the connection.
    std::string receiveAll() { return drain(fd); }
    static std::string drain(int fd) {
        std::string received;
        char piece[4096];
        ssize_t got;
        while ((got = read(fd, piece, sizeof piece)) > 0)
            received.append(piece, size_t(got));
        return received;
    }

    int fd;
};

// A server in a private temporary directory, answering each request with "re:" and the request
// on a thread of its own until it gets "stop".
class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = getenv("TMPDIR");
        oldTemporary = old ? old : "";
        setenv("TMPDIR", base.path().c_str(), 1);
    }

    void startEchoServer(std::chrono::milliseconds idle = 60s) {
        server = std::make_unique<tcp>(idle);
        serving = std::async(std::launch::async, [this] {
            for (;;) {
                server->waitCommand();
                const std::string request = server->getCommand();
                server->sendAnswer("re:" + request);
                if (request == "stop")
                    return;
            }
        });
    }
    void TearDown() override {
        if (server) {
            EXPECT_EQ(tcp(server->path()).sendCommand("stop"), "re:stop");
            serving.get();
        }
        server.reset();
        if (oldTemporary.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTemporary.c_str(), 1);
    }

    testsupport::TempDir base;
    std::string oldTemporary;
    std::unique_ptr<tcp> server;
    std::future<void> serving;
};

TEST(WebUiTransportFrameTest, CompletenessFollowsTheLengthLine) {
    struct Case {
        std::string buffer;
        bool complete;
        std::string payload;
    };
    const Case cases[] = {
        {"5\nhello", true, "hello"},  {"0\n", true, ""},         {"", false, ""}, {"12", false, ""},
        {"10\n123456789", false, ""}, {"3\na\nb", true, "a\nb"},
    };
    for (const Case& c : cases) {
        std::string payload = "untouched";
        EXPECT_EQ(tcp::completeFrame(c.buffer, &payload), c.complete) << c.buffer;
        EXPECT_EQ(payload, c.complete ? c.payload : "untouched") << c.buffer;
    }
    EXPECT_EQ(tcp::makeFrame("hello"), "5\nhello");
    EXPECT_EQ(tcp::makeFrame(""), "0\n");
}

TEST(WebUiTransportFrameTest, MalformedFramesAreRefused) {
    const std::string refused[] = {
        "10\n12345678901",                                       // longer than announced
        "x\nabc",                                                // not a number
        "\nabc",                                                 // no digits
        "-1\n",                                                  // sign
        std::string(25, '9'),                                    // length line without end
        std::to_string(WebUiTransport::maxFrameSize + 1) + "\n", // over the stated maximum
    };
    for (const std::string& buffer : refused)
        EXPECT_THROW(tcp::completeFrame(buffer, nullptr), std::length_error) << buffer;
}

TEST_F(TransportTest, RequestsAndAnswersOfAnySizeTravelWhole) {
    startEchoServer();
    tcp client(server->path());
    const std::string large(3 * 1024 * 1024 + 7, 'x');
    for (const std::string& request : {std::string("ping"), std::string(), large, std::string("a\nb\n")})
        EXPECT_EQ(client.sendCommand(request), "re:" + request);
}

TEST_F(TransportTest, RequestInPiecesIsAnsweredAfterItsLastByte) {
    startEchoServer();
    RawClient raw(server->path());
    raw.send("9\nping");
    std::this_thread::sleep_for(50ms);
    raw.send("-pong");
    raw.endWriting();
    EXPECT_EQ(raw.receiveAll(), "12\nre:ping-pong");
}

TEST_F(TransportTest, SocketLivesInAPrivateDirectoryRemovedAtTheEnd) {
    umask(0);
    server = std::make_unique<tcp>(60s);
    const std::string socketFile = server->path();
    const std::string directory = socketFile.substr(0, socketFile.rfind('/'));
    EXPECT_EQ(directory.rfind(base.path() + "/", 0), 0u) << directory;
    struct stat info {};
    ASSERT_EQ(stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
    ASSERT_EQ(stat(socketFile.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);
    EXPECT_EQ(getenv(WebUiTransport::socketEnvironment), socketFile);

    server.reset();
    EXPECT_FALSE(testsupport::exists(socketFile));
    EXPECT_FALSE(testsupport::exists(directory));
}

// Each broken client loses its connection without an answer; the next request is served.
TEST_F(TransportTest, BrokenRequestsAreDroppedAndServingGoesOn) {
    struct Case {
        const char* name;
        std::string bytes;
        bool endWriting;
    };
    const Case cases[] = {
        {"longer than announced", "10\n12345678901", false},
        {"short and closed", "10\nabc", true},
        {"closed before any byte", "", true},
        {"bad length line", "ten\nabcdefghij", false},
        {"over the maximum", std::to_string(WebUiTransport::maxFrameSize + 1) + "\n", false},
    };
    startEchoServer();
    tcp client(server->path());
    for (const Case& c : cases) {
        RawClient raw(server->path());
        raw.send(c.bytes);
        if (c.endWriting)
            raw.endWriting();
        EXPECT_EQ(raw.receiveAll(), "") << c.name;
        EXPECT_EQ(client.sendCommand(c.name), std::string("re:") + c.name);
    }
}

TEST_F(TransportTest, SecondClientWaitsUntilTheFirstIsAnswered) {
    startEchoServer();
    RawClient first(server->path());
    first.send("5\nfir");
    std::this_thread::sleep_for(50ms);
    auto second =
        std::async(std::launch::async, [this] { return tcp(server->path()).sendCommand("second"); });
    EXPECT_EQ(second.wait_for(200ms), std::future_status::timeout);
    first.send("st");
    EXPECT_EQ(first.receiveAll(), "8\nre:first");
    EXPECT_EQ(second.get(), "re:second");
}

TEST_F(TransportTest, IdleWaitEndsWithTimeout) {
    tcp idle(100ms);
    EXPECT_THROW(idle.waitCommand(), WebUiTransport::timeout);
}

TEST_F(TransportTest, SecondAnswerOnOneConnectionSendsNothing) {
    tcp twice(60s);
    auto answer = std::async(std::launch::async, [&] { return tcp(twice.path()).sendCommand("q"); });
    twice.waitCommand();
    EXPECT_EQ(twice.getCommand(), "q");
    twice.sendAnswer("one");
    twice.sendAnswer("two");
    EXPECT_EQ(answer.get(), "one");
}

// A fake back end: answers one connection with fixed bytes, whatever the request.
std::string answerOnceWith(const std::string& path, const std::string& reply) {
    const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listening, 1) != 0)
        throw std::runtime_error("fake back end failed");
    auto serve = std::async(std::launch::async, [&] {
        const int connection = accept(listening, nullptr, nullptr);
        RawClient::drain(connection);
        (void)!write(connection, reply.data(), reply.size());
        close(connection);
    });
    try {
        const std::string answer = tcp(path).sendCommand("q");
        serve.get();
        close(listening);
        return answer;
    } catch (...) {
        serve.get();
        close(listening);
        unlink(path.c_str());
        throw;
    }
}

TEST_F(TransportTest, ClientRefusesMissingCutAndOverlongAnswers) {
    const std::string socketFile = base.file("fake");
    EXPECT_EQ(answerOnceWith(socketFile, "2\nok"), "ok");
    unlink(socketFile.c_str());
    for (const std::string reply : {"", "10\nabc", "2\nabc", "x\n"})
        EXPECT_THROW(answerOnceWith(socketFile, reply), error) << reply;
}

TEST_F(TransportTest, HandlesShareOneServerThatAnswersCompactDocuments) {
    std::string socketFile;
    {
        WebUiTransport first(WebUiTransport::server, 60s);
        socketFile = WebUiTransport::socketPath();
        auto answer = std::async(std::launch::async, [&] { return tcp(socketFile).sendCommand("q"); });
        WebUiTransport second(WebUiTransport::client);
        second.waitCommand();
        EXPECT_EQ(first.getCommand(), "q");
        TiXmlDocument document;
        document.Parse("<?xml version=\"1.0\" ?>\n<a status=\"ok\">\n  <b/>\n</a>\n");
        first.sendAnswer(document);
        EXPECT_EQ(answer.get(), "<?xml version=\"1.0\" ?><a status=\"ok\"><b /></a>");
    }
    EXPECT_FALSE(testsupport::exists(socketFile));
    EXPECT_THROW(WebUiTransport::tcp(socketFile).sendCommand("q"), error);
}

} // namespace
