#pragma once

// Builds real ZIP archives with libzip's writing API, and patches their
// headers to make the damaged, foreign and hostile packages an updater meets.

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <ctime>

enum class Codec { Store, Deflate, Bzip2, Lzma, Xz, Zstd };

struct FixtureEntry {
    QByteArray name; // as stored; libzip flags it UTF-8 when it is valid UTF-8
    QByteArray data;
    Codec codec = Codec::Deflate;
    bool directory = false;
    int hostSystem = -1; // -1 keeps libzip's own (Unix, mode 0644)
    std::uint32_t externalAttributes = 0;
    bool encrypted = false;
    std::time_t mtime = 0; // 0 keeps libzip's
    QByteArray compressed; // when set, the entry's data instead of the codec's output
};

// Methods libzip does not write are stored and then relabelled, with the
// CRC-32 and size of the plain data.
QByteArray buildZip(const QList<FixtureEntry>& entries, const QByteArray& comment = {});

// Header fields of a single-disk archive without Zip64 records.
class ZipPatcher {
public:
    explicit ZipPatcher(QByteArray& zip);

    int endRecord() const { return end_; }
    int central(int entry) const; // offset of the central header
    int local(int entry) const;   // offset of the local header
    int data(int entry) const;    // offset of the entry's data

    void setMethod(int entry, std::uint16_t method);
    void setFlags(int entry, std::uint16_t flags);
    std::uint16_t flags(int entry) const;
    void setCrc(int entry, std::uint32_t crc);
    std::uint32_t crc(int entry) const;
    void setUncompressedSize(int entry, std::uint32_t size);
    void setVersionNeeded(int entry, std::uint16_t version);
    void setName(int entry, const QByteArray& sameLengthName);

    void put16(int at, std::uint16_t value);
    void put32(int at, std::uint32_t value);
    std::uint16_t get16(int at) const;
    std::uint32_t get32(int at) const;

private:
    QByteArray& zip_;
    int end_ = -1;
};

// The same archive with Zip64 end records, the classic end record's fields
// saturated so that a reader must follow them.
void toZip64(QByteArray& zip);

// Each codec's own compressed form of `data`, as it sits in a ZIP entry.
QByteArray lzmaEntryData(const QByteArray& data);
QByteArray xzData(const QByteArray& data);
QByteArray zstdData(const QByteArray& data);
// One zstd frame as a streaming compressor writes it, not knowing the size,
// whose header claims a window of 2^windowLog bytes.
QByteArray zstdDataClaimingWindow(const QByteArray& data, int windowLog);
// An xz stream whose block header claims the largest LZMA2 dictionary (4 GiB).
QByteArray xzDataClaimingLargestDictionary(const QByteArray& data);
