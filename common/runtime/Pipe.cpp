#include "common/runtime/Pipe.h"

#include "common/runtime/ChildExec.h"
#include "common/runtime/error.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

void closeEnd(const Pipe* pipe, int& fd, const char* which) {
    if (fd == -1)
        return;
    const int closing = fd;
    fd = -1;
    if (close(closing) != 0) {
        const int saved = errno;
        std::ostringstream address;
        address << static_cast<const void*>(pipe);
        throw error(4, 2, 1, 1) << "Pipe: " << address.str() << " Can't close " << which << " fd " << closing
                                << ":" << strerror(saved);
    }
}

} // namespace

Pipe::Pipe() {
    int fds[2];
    if (ChildExec::createPipe(fds) != 0)
        throw error(4, 2, 1, 1) << "Pipe: Can't create pipe: " << strerror(errno);
    outFd = fds[0];
    inFd = fds[1];
}

Pipe::~Pipe() {
    ChildExec::closeFd(inFd);
    ChildExec::closeFd(outFd);
}

int Pipe::in() const {
    if (inFd == -1)
        throw error(3, 2, 1, 3) << "Pipe: in() end is already closed";
    return inFd;
}

int Pipe::out() const {
    if (outFd == -1)
        throw error(3, 2, 1, 3) << "Pipe: out() end is already closed";
    return outFd;
}

void Pipe::closeIn() {
    closeEnd(this, inFd, "in");
}

void Pipe::closeOut() {
    closeEnd(this, outFd, "out");
}
