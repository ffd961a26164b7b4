#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

class Package;

// Reads one record of the package cache text: lines of a tag character, ':' and a value, single
// tags (file, name, epoch, version, release, arch, times, size, digest) before the dependency
// lines, ended by an 'X' line.
class PackageCacheReader {
public:
    PackageCacheReader(FILE* file, int* lineCounter);
    PackageCacheReader(const PackageCacheReader&) = delete;
    PackageCacheReader& operator=(const PackageCacheReader&) = delete;

    // Every error carries the number and text of the line it stopped at.
    std::unique_ptr<Package> readRecord();

private:
    // The next line that is not a comment, checked for the "T:" form; false at the end of the file.
    bool readLine();
    void readRecordLines();
    void storeSingleTag();
    void makePackage();
    void readProvide();

    FILE* file;
    int* lineCounter;
    std::string line;
    char tag = '\0';
    std::string value;
    std::map<char, std::string> singleTags;
    std::unique_ptr<Package> package;
};
