#pragma once

#include "Platform.h"

#include <QString>

#include <cstdint>
#include <vector>

struct zip;

// One member of the package as its central directory lists it.
struct ZipEntry {
    std::uint64_t index = 0;
    QString name; // decoded: UTF-8 when flagged or valid, else the system's code page
    bool directory = false;
    bool symlink = false;
    bool encrypted = false;
    std::uint16_t method = 0;
    std::uint16_t versionNeeded = 0;
    bool localHeaderFound = false;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t dosTime = 0;
    std::uint8_t hostSystem = 0;
    std::uint32_t externalAttributes = 0;
};

// The package opened for reading, after the opening checks in their order:
// "File not found", "Invalid Stream", "Unhandled Archive Type", the open
// failure, "Directory does not exist", "Invalid file - not a PKZip file".
// The file stays open, shared for reading and writing, until close().
class ZipPackage {
public:
    ZipPackage(const platform::Path& package, const platform::Path& baseDirectory);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    const std::vector<ZipEntry>& entries() const { return entries_; }
    zip* archive() const { return archive_; }
    const platform::Path& path() const { return path_; }
    void close();

private:
    platform::Path path_;
    zip* archive_ = nullptr;
    std::vector<ZipEntry> entries_;
};
