#include "installer/engine/LastingFileBackup.h"

#include "common/runtime/fileops.h"

LastingFileBackup::LastingFileBackup(const std::string& path)
    : filePath(path), backupPath(path + ".ai_back") {}

void LastingFileBackup::presave() {
    if (presaved)
        return;
    if (fileops::exists(filePath) && !fileops::exists(backupPath))
        fileops::copy_file(filePath, backupPath);
    presaved = true;
}

void LastingFileBackup::commit() {
    if (fileops::exists(backupPath))
        fileops::remove(backupPath);
}

void LastingFileBackup::rollback() {
    if (!presaved)
        return;
    if (fileops::exists(backupPath))
        fileops::rename(backupPath, filePath);
    else
        fileops::remove(filePath);
}
