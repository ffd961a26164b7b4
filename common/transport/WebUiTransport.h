#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class TiXmlDocument;

// The UNIX-socket link between the installer's web back end (server) and the web server process
// (client). One request per connection; each direction is one frame: the payload length in decimal,
// a line feed, then the payload. All handles of a process share one transport.
class WebUiTransport {
public:
    enum { client = 0, server = 1 };

    // No request arrived within the idle time-out.
    class timeout {};

    // Frames longer than this are refused on both sides.
    static constexpr size_t maxFrameSize = 64 * 1024 * 1024;
    static constexpr std::chrono::milliseconds defaultIdleTimeout = std::chrono::seconds(1800);
    // The server publishes its socket path here for the web server process it starts.
    static constexpr const char* socketEnvironment = "MOXEL_WEBUI_SOCKET";

    class rep {
    public:
        virtual ~rep() = default;
        virtual void waitCommand() = 0;
        virtual std::string getCommand() = 0;
        virtual void sendAnswer(const std::string& payload) = 0;
        virtual std::string sendCommand(const std::string& payload) = 0;
        virtual std::string path() const = 0;
    };

    // Server mode opens the socket in a new private directory and publishes its path; client mode
    // connects to the published path. Only the first handle of a process chooses the mode and time-out.
    explicit WebUiTransport(int mode, std::chrono::milliseconds idleTimeout = defaultIdleTimeout);
    WebUiTransport(const WebUiTransport&) = delete;
    WebUiTransport& operator=(const WebUiTransport&) = delete;
    ~WebUiTransport();

    void waitCommand();
    std::string getCommand();
    void sendAnswer(const TiXmlDocument& answer);
    std::string sendCommand(const std::string& payload);

    // The socket of this process's server, else the path published by the parent's server.
    static std::string socketPath();

    class tcp;
};

// The one implementation: a listening socket and one accepted connection at a time (server), or
// one connection per request (client).
class WebUiTransport::tcp : public WebUiTransport::rep {
public:
    // Server: makes a private directory under the temporary directory and listens in it.
    explicit tcp(std::chrono::milliseconds idleTimeout);
    // Client: requests go to the socket at path.
    explicit tcp(const std::string& path);
    tcp(const tcp&) = delete;
    tcp& operator=(const tcp&) = delete;
    ~tcp() override;

    void waitCommand() override;
    std::string getCommand() override;
    void sendAnswer(const std::string& payload) override;
    std::string sendCommand(const std::string& payload) override;
    std::string path() const override { return socketFile; }

    // The payload when buffer holds exactly one whole frame; throws when it is malformed.
    static bool completeFrame(const std::string& buffer, std::string* payload);
    static std::string makeFrame(const std::string& payload);

private:
    void listen();
    void acceptClient();
    // False when the connection was dropped or is still short of a whole frame.
    bool readFromClient();
    void dropClient(const std::string& why);
    void closeClient();

    int listenSocket = -1;
    int clientSocket = -1;
    std::string buffer;
    std::chrono::milliseconds idleTimeout{0};
    std::string directory;
    std::string socketFile;
};
