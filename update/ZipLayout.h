#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The fields of a central-directory header that the ZIP library keeps to
// itself, in central-directory order (the library's index order).
struct CentralRecord {
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    bool localHeaderFound = false; // its signature is where the directory points
    // Fields the library reports too, to tell that both read the same records.
    std::uint16_t nameLength = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeaderOffset = 0;
};

enum class CentralDirectory {
    Read,
    Unreadable, // no end record leads to a readable directory
    Ambiguous,  // end records lead to more than one readable directory
};

// A ZIP archive begins with the split marker or has an end-of-central-directory
// signature in its last 65557 bytes (the record and the longest comment).
bool looksLikeZip(std::FILE* file, std::uint64_t size);

// Walks the central directory named by the end record (and its Zip64 record),
// and looks for each local header. Records are filled only when it is Read.
CentralDirectory readCentralRecords(std::FILE* file, std::uint64_t size,
                                    std::vector<CentralRecord>& records);
