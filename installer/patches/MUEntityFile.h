#pragma once

#include "installer/patches/MUEntity.h"

#include <string>
#include <vector>

class FileFetcher;

// A patch item that replaces one file, or creates it, with content fetched from the installation
// source, and forces ownership and mode bits on it. The target is replaced by one rename: readers see
// the old file or the new one, never a part.
class MUEntityFile : public MUEntity {
public:
    MUEntityFile(FileFetcher* fetcher, const std::string& name, const std::string& target,
                 const std::string& md5, bool createNew, const counter_ptr& steps, const counter_ptr& files);

    // Empty names keep the owner or group; a bit must not be both set and cleared.
    void setPermissions(const std::string& owner, const std::string& group, int setBits, int clearBits);

    void check() override;
    void prepare() override;
    void apply() override;

    // Targets written since the security contexts were last restored, in the order written.
    static std::vector<std::string>& patchedFiles();

    const std::string& getName() const { return name; }
    const std::string& getTarget() const { return target; }
    const std::string& getMd5() const { return md5; }
    bool getCreateNew() const { return createNew; }
    const std::string& getOwner() const { return owner; }
    const std::string& getGroup() const { return group; }
    int getSetBits() const { return setBits; }
    int getClearBits() const { return clearBits; }

private:
    bool shouldApply();
    // Mode, owner and group of the file that will be written: those of the existing file (through a
    // symbolic link, the file it points to), changed as the permissions say.
    void parseUnixPermissions();
    void replaceTarget();

    FileFetcher* fetcher;
    std::string name;
    std::string localPath;
    std::string target;
    std::string md5;
    bool createNew;
    counter_ptr files;
    std::string owner;
    std::string group;
    int setBits = 0;
    int clearBits = 0;
    int uid = -1;
    int gid = -1;
    int mode = 0644;
    // The file the rename replaces: the target, or the file a symbolic link target points to.
    std::string destination;
};
