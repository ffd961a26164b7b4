#include "common/transport/WebUiTransport.h"

#include "common/runtime/Log.h"
#include "common/runtime/Progress.h"
#include "common/runtime/error.h"
#include "common/runtime/fileops.h"

#include <tinyxml.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* const unit = "common/WebUiTransport";
// The length line: at most this many digits, then the line feed.
const size_t maxLengthDigits = 20;
const size_t readPiece = 64 * 1024;

std::mutex handlesLock;
std::unique_ptr<WebUiTransport::rep> shared;
int useCount = 0;

std::string systemError() {
    return strerror(errno);
}

error transportError(const std::string& text) {
    const std::string reason = systemError();
    return error(4, 2, 1, 2) << text << reason;
}

WebUiTransport::rep& representation() {
    std::lock_guard<std::mutex> hold(handlesLock);
    if (!shared)
        throw internal_error(unit, __LINE__);
    return *shared;
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw error(4, 2, 1, 2) << "BackendProtocol: socket path too long: " << path;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

std::string temporaryBase() {
    const char* base = getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

// Only the back end's own user (root) may send requests.
bool peerIsTrusted(int socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == 0 || credentials.uid == geteuid();
}

std::string publishedPath() {
    const char* published = getenv(WebUiTransport::socketEnvironment);
    return published ? published : "";
}

bool writeAll(int socket, const std::string& data) {
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t result = send(socket, data.data() + written, data.size() - written, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += static_cast<size_t>(result);
    }
    return true;
}

} // namespace

WebUiTransport::WebUiTransport(int mode, std::chrono::milliseconds idleTimeout) {
    std::lock_guard<std::mutex> hold(handlesLock);
    if (!shared) {
        if (mode == server)
            shared = std::make_unique<tcp>(idleTimeout);
        else
            shared = std::make_unique<tcp>(publishedPath());
    }
    ++useCount;
}

WebUiTransport::~WebUiTransport() {
    std::lock_guard<std::mutex> hold(handlesLock);
    if (--useCount == 0)
        shared.reset();
}

void WebUiTransport::waitCommand() {
    representation().waitCommand();
}

std::string WebUiTransport::getCommand() {
    return representation().getCommand();
}

void WebUiTransport::sendAnswer(const TiXmlDocument& answer) {
    rep& transport = representation();
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    answer.Accept(&printer);
    if (const TiXmlElement* root = answer.RootElement()) {
        TiXmlPrinter rootPrinter;
        rootPrinter.SetStreamPrinting();
        root->Accept(&rootPrinter);
        Log::stream(3, true) << "answer sent: " << rootPrinter.Str();
    }
    transport.sendAnswer(printer.Str());
}

std::string WebUiTransport::sendCommand(const std::string& payload) {
    return representation().sendCommand(payload);
}

std::string WebUiTransport::socketPath() {
    std::lock_guard<std::mutex> hold(handlesLock);
    return shared ? shared->path() : publishedPath();
}

WebUiTransport::tcp::tcp(std::chrono::milliseconds idleTimeout) : idleTimeout(idleTimeout) {
    listen();
}

WebUiTransport::tcp::tcp(const std::string& path) : socketFile(path) {}

WebUiTransport::tcp::~tcp() {
    closeClient();
    if (listenSocket < 0)
        return;
    if (close(listenSocket) != 0)
        Log::stream(0, true) << "ERROR: close WebUiTransport socket: " << systemError();
    if (fileops::exists(socketFile))
        fileops::remove(socketFile);
    if (rmdir(directory.c_str()) != 0)
        Log::stream(1, true) << "Can't remove " << directory << ": " << systemError();
}

// The socket lives in a fresh directory that only root can enter, so no other user can replace it
// or connect to it.
void WebUiTransport::tcp::listen() {
    std::string pattern = temporaryBase() + "/moxel-webui-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw transportError("BackendProtocol: create socket directory failed: ");
    directory = pattern;
    socketFile = directory + "/socket";
    if (chmod(directory.c_str(), 0700) != 0)
        throw transportError("BackendProtocol: create socket directory failed: ");

    listenSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenSocket < 0)
        throw transportError("BackendProtocol: create socket failed: ");
    const sockaddr_un address = addressOf(socketFile);
    const mode_t oldMask = umask(077);
    const int bound = bind(listenSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindErrno = errno;
    umask(oldMask);
    if (bound != 0) {
        errno = bindErrno;
        throw transportError("BackendProtocol: bind socket failed: ");
    }
    if (::listen(listenSocket, 2) != 0)
        throw transportError("BackendProtocol: listen on socket failed: ");
    setenv(socketEnvironment, socketFile.c_str(), 1);
}

bool WebUiTransport::tcp::completeFrame(const std::string& buffer, std::string* payload) {
    const size_t lineEnd = buffer.find('\n');
    if (lineEnd == std::string::npos) {
        if (buffer.size() > maxLengthDigits)
            throw std::length_error("frame length line too long");
        return false;
    }
    if (lineEnd == 0 || lineEnd > maxLengthDigits || buffer.find_first_not_of("0123456789") != lineEnd)
        throw std::length_error("bad frame length line");
    const unsigned long long length = std::stoull(buffer.substr(0, lineEnd));
    if (length > maxFrameSize)
        throw std::length_error("frame of " + std::to_string(length) + " bytes is over the limit of " +
                                std::to_string(maxFrameSize));
    const size_t have = buffer.size() - lineEnd - 1;
    if (have > length)
        throw std::length_error("frame longer than its length line says");
    if (have < length)
        return false;
    if (payload)
        *payload = buffer.substr(lineEnd + 1);
    return true;
}

std::string WebUiTransport::tcp::makeFrame(const std::string& payload) {
    return std::to_string(payload.size()) + '\n' + payload;
}

void WebUiTransport::tcp::closeClient() {
    if (clientSocket >= 0)
        close(clientSocket);
    clientSocket = -1;
}

void WebUiTransport::tcp::dropClient(const std::string& why) {
    Log::stream(0, true) << "ERROR: read xml_command to buf: " << why;
    closeClient();
    buffer.clear();
}

void WebUiTransport::tcp::acceptClient() {
    clientSocket = accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (clientSocket < 0) {
        Log::stream(0, true) << "ERROR: in accept webui client: " << systemError();
        clientSocket = -1;
        return;
    }
    if (!peerIsTrusted(clientSocket)) {
        Log::stream(0, true) << "ERROR: in accept webui client: peer is not root";
        closeClient();
    }
}

bool WebUiTransport::tcp::readFromClient() {
    char piece[readPiece];
    const ssize_t got = read(clientSocket, piece, sizeof piece);
    if (got < 0) {
        if (errno == EINTR)
            return false;
        dropClient(systemError());
        return false;
    }
    if (got == 0) {
        dropClient("peer closed the connection before a whole request");
        return false;
    }
    buffer.append(piece, static_cast<size_t>(got));
    try {
        if (!completeFrame(buffer, nullptr))
            return false;
    } catch (const std::exception& bad) {
        dropClient(bad.what());
        return false;
    }
    if (shutdown(clientSocket, SHUT_RD) != 0)
        Log::stream(0, true) << "ERROR: complete read of xml_command: " << systemError();
    return true;
}

// While a connection is open only it is watched: the next client waits in the backlog.
void WebUiTransport::tcp::waitCommand() {
    closeClient();
    buffer.clear();
    for (;;) {
        const int watched = clientSocket >= 0 ? clientSocket : listenSocket;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(watched, &readable);
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(idleTimeout).count();
        timeval wait{static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
        const int ready = select(watched + 1, &readable, nullptr, nullptr, &wait);
        if (ready < 0) {
            if (errno != EINTR)
                throw error(4, 1, 1, 2) << "select: " << systemError();
            Progress::checkTermination();
            continue;
        }
        if (ready == 0)
            throw timeout();
        if (watched == listenSocket)
            acceptClient();
        else if (readFromClient())
            return;
    }
}

std::string WebUiTransport::tcp::getCommand() {
    std::string payload;
    if (!completeFrame(buffer, &payload))
        throw internal_error(unit, __LINE__);
    return payload;
}

void WebUiTransport::tcp::sendAnswer(const std::string& payload) {
    if (clientSocket < 0) {
        Log::stream(0, true) << "Warning: XML answer is already sent (try to send '" << payload << "'";
        return;
    }
    if (!writeAll(clientSocket, makeFrame(payload)))
        Log::stream(0, true) << "ERROR: write to xml_fd: " << systemError();
    if (shutdown(clientSocket, SHUT_WR) != 0)
        Log::stream(0, true) << "ERROR: complete write to xml_fd: " << systemError();
    if (close(clientSocket) != 0)
        Log::stream(0, true) << "ERROR: close xml_fd: " << systemError();
    clientSocket = -1;
}

namespace {

// Closes the client's connection on every way out.
struct Connection {
    int fd;
    ~Connection() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

std::string WebUiTransport::tcp::sendCommand(const std::string& payload) {
    Connection connection{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (connection.fd < 0)
        throw transportError("BackendProtocol: create socket failed: ");
    const sockaddr_un address = addressOf(socketFile);
    if (connect(connection.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw transportError("Can't connect to backend: ");
    if (!writeAll(connection.fd, makeFrame(payload)))
        throw transportError("Can't write request portion: ");
    if (shutdown(connection.fd, SHUT_WR) != 0)
        throw transportError("Can't complete write request portion: ");

    buffer.clear();
    char piece[readPiece];
    for (;;) {
        const ssize_t got = read(connection.fd, piece, sizeof piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            std::clog << "ERROR reading from socket: " << systemError() << std::endl;
            break;
        }
        if (got == 0)
            break;
        buffer.append(piece, static_cast<size_t>(got));
        if (buffer.size() > maxFrameSize + maxLengthDigits + 1)
            break;
    }
    std::string answer;
    bool complete = false;
    try {
        complete = completeFrame(buffer, &answer);
    } catch (const std::exception& bad) {
        Log::stream(1, true) << "Bad answer from the backend: " << bad.what();
    }
    // An empty, cut or overlong answer means the back end did not answer this request.
    if (!complete)
        throw internal_error(unit, __LINE__);
    if (close(connection.fd) != 0) {
        connection.fd = -1;
        throw transportError("Can't close connection: ");
    }
    connection.fd = -1;
    return answer;
}
