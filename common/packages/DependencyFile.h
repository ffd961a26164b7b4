#pragma once

#include "common/packages/Dependency.h"
#include "common/packages/PooledString.h"

#include <memory>
#include <string>

// A file of a package: its path (split into interned directory and base name), its mode, and
// the digest of its content or, for anything but a regular file, the link target. Entries and
// digests come from pools that never give memory back; use create() to make one.
class DependencyFile : public Dependency {
public:
    struct md5rep_t {
        unsigned char bytes[16];
    };

    enum file_type_t { REGULAR, DIRECTORY, SYMLINK, CHAR_DEVICE, BLOCK_DEVICE, SOCKET, PIPE };

    // A regular-file mode takes the text as a hexadecimal digest, any other mode as a link
    // target; an empty text gives neither. A bad digest raises and no entry is made.
    DependencyFile(const std::string& path, int mode, const std::string& digestOrLink, const Package* master);
    ~DependencyFile() override = default;

    static std::shared_ptr<DependencyFile> create(const std::string& path, int mode,
                                                  const std::string& digestOrLink, const Package* master);

    // Paths match whatever their mode and digest.
    using Dependency::matches;
    using Dependency::sameName;

    std::string getName() const override;
    bool matches(const Dependency* other) const override;
    uint64_t hash() const override;
    bool sameName(const Dependency* other) const override;
    bool equals(const Dependency* other) const override;
    std::shared_ptr<Dependency> clone() const override;
    std::ostream& print(std::ostream& out) const override;

    // By the type bits; every unknown type, 0 included, is a regular file.
    static file_type_t fileType(int mode);
    // Exactly 32 or 64 hexadecimal digits, of which the first 32 are read; empty gives zeros.
    static void parseMd5(const std::string& text, unsigned char (&digest)[16]);

    // 32 lower-case hexadecimal digits of the digest, else the link text.
    std::string getDigestText() const;

    PooledString getDir() const { return dir; }
    PooledString getBase() const { return base; }
    int getMode() const { return mode; }
    // Null when the entry has no digest.
    const md5rep_t* getMd5() const { return md5; }
    PooledString getLink() const { return link; }

private:
    struct clone_tag {};

public:
    // For clone(): the same master and path, and nothing else.
    DependencyFile(const DependencyFile& other, clone_tag);

private:
    PooledString dir;
    PooledString base;
    int mode;
    const md5rep_t* md5 = nullptr;
    PooledString link;
};
