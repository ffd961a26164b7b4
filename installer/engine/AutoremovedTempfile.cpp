#include "installer/engine/AutoremovedTempfile.h"

#include "common/runtime/error.h"
#include "common/runtime/fileops.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

AutoremovedTempfile::AutoremovedTempfile(const std::string& content) {
    std::string pattern = "/tmp/gpg.public.key.XXXXXXXX";
    const int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd == -1)
        throw error(error::system, 1, 1, 2)
            << "Can not create temporary file to store gpg public key: " << strerror(errno);
    filePath = pattern;
    try {
        // Written through the descriptor mkostemp gave: the name could meanwhile point elsewhere.
        fileops::File file(fd, filePath, "w");
        const std::string text = content + "\n";
        if (fwrite(text.data(), 1, text.size(), file.file) != text.size())
            throw error(error::system, 1, 1, 2)
                << "Can not write temporary file to store gpg public key: " << strerror(errno);
    } catch (...) {
        unlink(filePath.c_str());
        throw;
    }
}

AutoremovedTempfile::~AutoremovedTempfile() {
    unlink(filePath.c_str());
}
