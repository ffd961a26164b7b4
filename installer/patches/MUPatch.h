#pragma once

#include "common/packages/Version.h"

#include <memory>
#include <string>
#include <vector>

class MUEntity;

// One micro-update of one product release: its identity, what the patch list says about it and its
// items in document order.
class MUPatch {
public:
    using item_ptr = std::shared_ptr<MUEntity>;

    // An empty version text raises the error of Version.
    MUPatch(const std::string& productId, const std::string& productVersion, const std::string& version,
            const std::string& timestamp, bool security, bool forced, const std::string& type,
            const std::string& revision);

    void addItem(const item_ptr& item);

    // The passes, each over every item in order. An item's error gets a line naming the pass and the
    // patch. apply() records the patch as installed only when every item went through.
    void check();
    void prepare();
    void apply();
    // Restores the SELinux contexts of the files written since the last call.
    void finalize();

    // "moxel-18.0.1~patch3"
    std::string toString() const;

    const std::string& getProductId() const { return productId; }
    const std::string& getProductVersion() const { return productVersion; }
    const Version& getVersion() const { return version; }
    const std::string& getTimestamp() const { return timestamp; }
    bool isSecurity() const { return security; }
    bool isForced() const { return forced; }
    const std::string& getType() const { return type; }
    const std::string& getRevision() const { return revision; }
    const std::vector<item_ptr>& getItems() const { return items; }

private:
    std::string productId;
    std::string productVersion;
    Version version;
    std::string timestamp;
    bool security;
    bool forced;
    std::string type;
    std::string revision;
    std::vector<item_ptr> items;
};

// Orders patches by ascending version.
struct MUPatchVersionLess {
    bool operator()(const std::shared_ptr<MUPatch>& a, const std::shared_ptr<MUPatch>& b) const {
        return a->getVersion() < b->getVersion();
    }
};
