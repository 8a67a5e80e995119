#include "ZipLayout.h"

#include "Platform.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::uint32_t zip64EndSignature = 0x06064b50;
constexpr std::uint32_t zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::uint16_t zip64ExtraId = 0x0001;
constexpr std::uint32_t splitMarker = 0x08074b50;
constexpr std::uint64_t endRecordSize = 22;
constexpr std::uint64_t longestTail = endRecordSize + 0xFFFF;

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}

std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

bool readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
    if (!platform::seekTo(file, offset))
        return false;
    return std::fread(buffer, 1, size, file) == size;
}

std::vector<unsigned char> readTail(std::FILE* file, std::uint64_t size) {
    std::uint64_t length = std::min(size, longestTail);
    std::vector<unsigned char> tail(length);
    if (!readAt(file, size - length, tail.data(), tail.size()))
        tail.clear();
    return tail;
}

struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// The directory an end record at `position` names, through its Zip64 record
// where a field is saturated. False when the records do not hold together.
bool directoryOf(std::FILE* file, const unsigned char* end, std::uint64_t position,
                 Directory& directory) {
    directory.entries = le16(end + 10);
    directory.size = le32(end + 12);
    directory.offset = le32(end + 16);
    std::uint64_t limit = position;
    if (directory.entries == 0xFFFF || directory.size == 0xFFFFFFFF ||
        directory.offset == 0xFFFFFFFF) {
        unsigned char locator[20];
        if (position < sizeof locator || !readAt(file, position - 20, locator, sizeof locator) ||
            le32(locator) != zip64LocatorSignature)
            return false;
        std::uint64_t recordOffset = le64(locator + 8);
        unsigned char record[56];
        if (recordOffset > position - 20 || !readAt(file, recordOffset, record, sizeof record) ||
            le32(record) != zip64EndSignature)
            return false;
        directory.entries = le64(record + 32);
        directory.size = le64(record + 40);
        directory.offset = le64(record + 48);
        limit = recordOffset;
    }
    return directory.offset <= limit && directory.size <= limit - directory.offset;
}

// The sizes and the local header's offset, from the Zip64 extra field where
// the header's own fields are saturated.
bool zip64Fields(std::FILE* file, std::uint64_t at, const unsigned char* h, CentralRecord& record,
                 std::uint64_t& offset) {
    record.size = le32(h + 24);
    record.compressedSize = le32(h + 20);
    offset = le32(h + 42);
    if (record.size != 0xFFFFFFFF && record.compressedSize != 0xFFFFFFFF && offset != 0xFFFFFFFF)
        return true;
    std::vector<unsigned char> extra(le16(h + 30));
    if (extra.empty() || !readAt(file, at + 46 + le16(h + 28), extra.data(), extra.size()))
        return false;
    for (std::size_t i = 0; i + 4 <= extra.size();) {
        std::size_t length = le16(&extra[i + 2]);
        if (le16(&extra[i]) == zip64ExtraId) {
            // Only the saturated fields are present, in this order.
            std::size_t field = i + 4;
            std::size_t end = std::min(i + 4 + length, extra.size());
            for (std::uint64_t* value : {&record.size, &record.compressedSize, &offset}) {
                if (*value != 0xFFFFFFFF)
                    continue;
                if (field + 8 > end)
                    return false;
                *value = le64(&extra[field]);
                field += 8;
            }
            return true;
        }
        i += 4 + length;
    }
    return false;
}

bool walk(std::FILE* file, const Directory& directory, std::vector<CentralRecord>& records) {
    std::vector<CentralRecord> found;
    std::vector<std::uint64_t> localOffsets;
    std::uint64_t at = 0;
    unsigned char h[46];
    while (at + sizeof h <= directory.size && found.size() < directory.entries) {
        std::uint64_t headerAt = directory.offset + at;
        if (!readAt(file, headerAt, h, sizeof h) || le32(h) != centralSignature)
            return false;
        CentralRecord record;
        record.versionNeeded = le16(h + 6);
        record.flags = le16(h + 8);
        record.dosTime = le16(h + 12);
        record.dosDate = le16(h + 14);
        record.crc = le32(h + 16);
        record.nameLength = le16(h + 28);
        std::uint64_t localOffset = 0;
        if (!zip64Fields(file, headerAt, h, record, localOffset))
            return false;
        found.push_back(record);
        localOffsets.push_back(localOffset);
        at += sizeof h + static_cast<std::uint64_t>(le16(h + 28)) + le16(h + 30) + le16(h + 32);
    }
    if (at > directory.size || found.size() != directory.entries)
        return false;
    for (std::size_t i = 0; i < found.size(); ++i) {
        unsigned char signature[4];
        found[i].localHeaderFound = readAt(file, localOffsets[i], signature, sizeof signature) &&
                                    le32(signature) == localSignature;
        found[i].localHeaderOffset = localOffsets[i];
    }
    records = std::move(found);
    return true;
}

} // namespace

bool looksLikeZip(std::FILE* file, std::uint64_t size) {
    if (size < endRecordSize)
        return false;
    unsigned char head[4];
    if (readAt(file, 0, head, sizeof head) && le32(head) == splitMarker)
        return true;
    std::vector<unsigned char> tail = readTail(file, size);
    for (std::size_t i = 0; i + 4 <= tail.size(); ++i)
        if (le32(&tail[i]) == endSignature)
            return true;
    return false;
}

CentralDirectory readCentralRecords(std::FILE* file, std::uint64_t size,
                                    std::vector<CentralRecord>& records) {
    std::vector<unsigned char> tail = readTail(file, size);
    if (tail.size() < endRecordSize)
        return CentralDirectory::Unreadable;
    // Every end record that leads to a directory counts: the ZIP library may
    // take another one than the last, so two different directories leave no
    // way of knowing which records it reads.
    std::uint64_t tailStart = size - tail.size();
    bool found = false;
    Directory chosen;
    for (std::size_t i = tail.size() - endRecordSize + 1; i-- > 0;) {
        if (le32(&tail[i]) != endSignature)
            continue;
        Directory directory;
        if (!directoryOf(file, &tail[i], tailStart + i, directory))
            continue;
        if (found) {
            if (directory.offset == chosen.offset && directory.size == chosen.size &&
                directory.entries == chosen.entries)
                continue;
            std::vector<CentralRecord> other;
            if (walk(file, directory, other)) {
                records.clear();
                return CentralDirectory::Ambiguous;
            }
        } else if (walk(file, directory, records)) {
            found = true;
            chosen = directory;
        }
    }
    return found ? CentralDirectory::Read : CentralDirectory::Unreadable;
}
