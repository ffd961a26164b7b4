#pragma once

#include <string>

// A lasting file that a run may change: backed up once to its name + ".ai_back" before the first
// change, then kept (commit) or put back as it was (rollback) at the end of the run.
class LastingFileBackup {
public:
    explicit LastingFileBackup(const std::string& path);

    // Copies the file unless it is absent or a backup exists already (an earlier run's, which stays
    // the one to restore). Only the first call does anything.
    void presave();
    bool isPresaved() const { return presaved; }
    // Drops the backup.
    void commit();
    // Moves the backup over the file, or removes the file when it had none. Nothing before presave().
    void rollback();

    const std::string& path() const { return filePath; }

private:
    std::string filePath;
    std::string backupPath;
    bool presaved = false;
};
