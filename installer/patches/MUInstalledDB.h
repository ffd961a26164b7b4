#pragma once

#include "common/packages/Version.h"

#include <boost/date_time/posix_time/ptime.hpp>

#include <list>
#include <memory>
#include <string>
#include <vector>

class MUPatch;

// Which patch of which product release is installed on this server, and when. Kept in
// ".dizadizezeroz/microupdates.xml" in the home directory, with a one-line plain list of the installed
// patches in /var/cordavine/installed-patches for other programs.
class MUInstalledDB {
public:
    struct PatchRecord {
        Version version;
        std::string timestamp;
        boost::posix_time::ptime installedAt;
        std::string revision;
    };
    struct ProductRecord {
        std::string id;
        std::string version;
        boost::posix_time::ptime installedAt;
        std::vector<PatchRecord> patches;
    };

    static const char* const summaryPath;

    // The process-wide database, loaded from getDbPath() on first use when that file exists. A
    // failed load raises and leaves the database to be loaded by the next call.
    static MUInstalledDB& instance();
    static std::string getDbPath();

    // An empty database.
    MUInstalledDB() = default;
    MUInstalledDB(const MUInstalledDB&) = delete;
    MUInstalledDB& operator=(const MUInstalledDB&) = delete;

    // Adds the records of the file; its errors (XML, an empty or unreadable version) raise.
    void load(const std::string& path);

    // The record of the pair, appended when missing; a new record given minus infinity gets the
    // current local time.
    ProductRecord& prod(const std::string& id, const std::string& version,
                        boost::posix_time::ptime installedAt = boost::posix_time::neg_infin);
    void registerProduct(const std::string& id, const std::string& version);
    // Records an applied patch; then every product keeps only its last patch record.
    void setInstalled(const MUPatch& patch);

    // Whether the patch's product release has a record of this or a newer patch version.
    bool isInstalledOrNewer(const MUPatch& patch) const;
    bool isInstalled(const MUPatch& patch) const;
    // Null when the product record is missing or has no patches.
    const PatchRecord* lastPatch(const std::string& id, const std::string& version) const;
    // The no-time value when there is no record.
    boost::posix_time::ptime installedAt(const std::string& id, const std::string& version) const;

    // Saves to getDbPath() when something changed. A failed save raises and keeps the changes
    // pending for the next flush.
    void flush();
    // Writes the database file (through a temporary file renamed over it) and the plain list. Only the
    // records of the newest release of each product are written. Nothing is written without records.
    void save_db_to_file(const std::string& path) const;

    const std::list<ProductRecord>& products() const { return records; }
    bool isDirty() const { return dirty; }

private:
    const ProductRecord* find(const std::string& id, const std::string& version) const;
    void keepLastPatches();
    // The records that save_db_to_file writes.
    std::vector<const ProductRecord*> newestReleases() const;
    static void saveSummary(const std::vector<const ProductRecord*>& written);

    std::list<ProductRecord> records;
    bool dirty = false;
};
