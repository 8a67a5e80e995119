#include "EntryDecoder.h"

#include "ExceptionQt.h"

#include <lzma.h>
#include <zip.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::uint16_t methodStore = 0;
constexpr std::uint16_t methodDeflate = 8;
constexpr std::uint16_t methodBzip2 = 12;
constexpr std::uint16_t methodLzma = 14;
constexpr std::uint16_t methodZstd = 93;
constexpr std::uint16_t methodXz = 95;

constexpr std::size_t outputChunk = 1 << 20;
constexpr std::size_t inputChunk = 256 << 10;
// What one decoder may use, whatever its data asks for: four times what the
// largest xz preset needs, so a larger demand is damaged or hostile data.
constexpr std::uint64_t decoderMemoryLimit = 256ull << 20;
// A 2^27 window and its block buffers fit below the limit; 2^28 does not.
constexpr int zstdWindowLogLimit = 27;

[[noreturn]] void fail(const ZipEntry& entry, const char* reason) {
    throw erro(QString::fromUtf8(reason) + QStringLiteral(" in entry ") + entry.name);
}

[[noreturn]] void failMemory(const ZipEntry& entry) {
    fail(entry, "Compressed data needs more than 256 MiB of memory");
}

[[noreturn]] void failWith(const ZipEntry& entry, int zipErrorCode) {
    zip_error_t error;
    zip_error_init_with_code(&error, zipErrorCode);
    QString reason = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    throw erro(reason + QStringLiteral(" in entry ") + entry.name);
}

struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

ZipFilePtr openEntry(zip* archive, const ZipEntry& entry, zip_flags_t flags) {
    ZipFilePtr file(zip_fopen_index(archive, entry.index, flags));
    if (!file) {
        int code = zip_error_code_zip(zip_get_error(archive));
        // A local header without its signature is the archive's inconsistency,
        // not a different kind of file.
        failWith(entry, code == ZIP_ER_NOZIP ? ZIP_ER_INCONS : code);
    }
    return file;
}

[[noreturn]] void failRead(const ZipEntry& entry, zip_file_t* file) {
    zip_error_t* error = zip_file_get_error(file);
    throw erro(QString::fromUtf8(zip_error_strerror(error)) + QStringLiteral(" in entry ") +
               entry.name);
}

// Counts what reaches the sink, refusing more than the directory announced so
// that a lying size cannot fill the disk, and keeps the CRC-32 when asked.
class CheckedSink {
public:
    CheckedSink(const ZipEntry& entry, const ByteSink& sink, bool computeCrc)
        : entry_(entry), sink_(sink), computeCrc_(computeCrc) {}

    void operator()(const char* data, std::size_t size) {
        if (size > entry_.size - written_)
            failWith(entry_, ZIP_ER_INCONS);
        written_ += size;
        if (computeCrc_)
            crc_ = crc32_z(crc_, reinterpret_cast<const Bytef*>(data), size);
        sink_(data, size);
    }

    void finish() const {
        if (written_ != entry_.size)
            failWith(entry_, ZIP_ER_INCONS);
        if (computeCrc_ && crc_ != entry_.crc)
            failWith(entry_, ZIP_ER_CRC);
    }

private:
    const ZipEntry& entry_;
    const ByteSink& sink_;
    bool computeCrc_;
    std::uint64_t written_ = 0;
    uLong crc_ = crc32_z(0, nullptr, 0);
};

// The library decodes and checks the CRC itself; its verdict comes with the
// read that reaches the end, so every entry is read to its end.
void decodeByLibrary(zip* archive, const ZipEntry& entry, CheckedSink& out,
                     std::vector<char>& buffer) {
    ZipFilePtr file = openEntry(archive, entry, 0);
    for (;;) {
        zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0)
            failRead(entry, file.get());
        if (n == 0)
            break;
        out(buffer.data(), static_cast<std::size_t>(n));
    }
}

// The entry's raw (still compressed) bytes, for the methods the library
// leaves to us.
class RawReader {
public:
    RawReader(zip* archive, const ZipEntry& entry)
        : entry_(entry), file_(openEntry(archive, entry, ZIP_FL_COMPRESSED)) {}

    // Zero at the end of the data.
    std::size_t read(unsigned char* data, std::size_t size) {
        zip_int64_t n = zip_fread(file_.get(), data, size);
        if (n < 0)
            failRead(entry_, file_.get());
        return static_cast<std::size_t>(n);
    }

    void readExactly(unsigned char* data, std::size_t size) {
        while (size > 0) {
            std::size_t n = read(data, size);
            if (n == 0)
                fail(entry_, "Compressed data invalid");
            data += n;
            size -= n;
        }
    }

private:
    const ZipEntry& entry_;
    ZipFilePtr file_;
};

struct LzmaEnd {
    void operator()(lzma_stream* stream) const { lzma_end(stream); }
};

void runLzma(RawReader& raw, const ZipEntry& entry, lzma_stream& stream, CheckedSink& out,
             std::vector<char>& buffer) {
    std::unique_ptr<lzma_stream, LzmaEnd> end(&stream);
    std::vector<unsigned char> input(inputChunk);
    lzma_action action = LZMA_RUN;
    for (;;) {
        if (stream.avail_in == 0 && action == LZMA_RUN) {
            stream.next_in = input.data();
            stream.avail_in = raw.read(input.data(), input.size());
            if (stream.avail_in == 0)
                action = LZMA_FINISH;
        }
        stream.next_out = reinterpret_cast<std::uint8_t*>(buffer.data());
        stream.avail_out = buffer.size();
        lzma_ret ret = lzma_code(&stream, action);
        out(buffer.data(), buffer.size() - stream.avail_out);
        if (ret == LZMA_STREAM_END)
            return;
        if (ret == LZMA_MEM_ERROR)
            throw std::bad_alloc();
        if (ret == LZMA_MEMLIMIT_ERROR)
            failMemory(entry);
        if (ret != LZMA_OK) // damaged or truncated
            fail(entry, "Compressed data invalid");
    }
}

void decodeXz(zip* archive, const ZipEntry& entry, CheckedSink& out, std::vector<char>& buffer) {
    RawReader raw(archive, entry);
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&stream, decoderMemoryLimit, 0) != LZMA_OK)
        throw std::bad_alloc();
    runLzma(raw, entry, stream, out, buffer);
}

// Method 14 data: version (2 bytes), properties size (2 bytes), the LZMA
// properties, then the raw LZMA stream, with or without an end marker.
void decodeLzma(zip* archive, const ZipEntry& entry, CheckedSink& out, std::vector<char>& buffer) {
    RawReader raw(archive, entry);
    unsigned char header[4 + 5];
    raw.readExactly(header, 4);
    std::size_t propertiesSize = header[2] | header[3] << 8;
    if (propertiesSize != 5)
        fail(entry, "Compressed data invalid");
    raw.readExactly(header + 4, propertiesSize);

    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, header + 4, propertiesSize) != LZMA_OK)
        fail(entry, "Compressed data invalid");
    std::unique_ptr<lzma_options_lzma, decltype(&std::free)> options(
        static_cast<lzma_options_lzma*>(filters[0].options), &std::free);
    // No match reaches further back than the output's start, so a dictionary
    // larger than the entry is never needed (and a hostile one is not allocated).
    std::uint64_t needed = std::max<std::uint64_t>(entry.size, LZMA_DICT_SIZE_MIN);
    if (options->dict_size > needed)
        options->dict_size = static_cast<std::uint32_t>(needed);
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options->ext_size_low = static_cast<std::uint32_t>(entry.size);
    options->ext_size_high = static_cast<std::uint32_t>(entry.size >> 32);
    // The entry's size is the package's word too, so it bounds the dictionary
    // but not the memory.
    if (lzma_raw_decoder_memusage(filters) > decoderMemoryLimit)
        failMemory(entry);

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK)
        fail(entry, "Compressed data invalid");
    runLzma(raw, entry, stream, out, buffer);
}

void decodeZstd(zip* archive, const ZipEntry& entry, CheckedSink& out, std::vector<char>& buffer) {
    RawReader raw(archive, entry);
    std::unique_ptr<ZSTD_DStream, decltype(&ZSTD_freeDStream)> stream(ZSTD_createDStream(),
                                                                      &ZSTD_freeDStream);
    if (!stream)
        throw std::bad_alloc();
    ZSTD_DCtx_setParameter(stream.get(), ZSTD_d_windowLogMax, zstdWindowLogLimit);
    std::vector<unsigned char> input(inputChunk);
    ZSTD_inBuffer in{input.data(), 0, 0};
    std::size_t unfinished = 1; // zero once the last frame has ended
    bool outputFull = false;
    for (;;) {
        if (in.pos == in.size && !outputFull) {
            in.size = raw.read(input.data(), input.size());
            in.pos = 0;
            if (in.size == 0)
                break;
        }
        ZSTD_outBuffer o{buffer.data(), buffer.size(), 0};
        unfinished = ZSTD_decompressStream(stream.get(), &o, &in);
        if (ZSTD_isError(unfinished)) {
            if (ZSTD_getErrorCode(unfinished) == ZSTD_error_frameParameter_windowTooLarge)
                failMemory(entry);
            fail(entry, "Compressed data invalid");
        }
        out(buffer.data(), o.pos);
        // A frame that ended has flushed everything: calling again with a full
        // buffer would start reading the next frame's header.
        outputFull = o.pos == o.size && unfinished != 0;
    }
    if (unfinished != 0)
        fail(entry, "Compressed data invalid");
}

} // namespace

bool methodSupported(std::uint16_t method) {
    switch (method) {
    case methodStore:
    case methodDeflate:
    case methodBzip2:
    case methodLzma:
    case methodZstd:
    case methodXz:
        return true;
    default:
        return false;
    }
}

void decodeEntry(zip* archive, const ZipEntry& entry, const ByteSink& sink,
                 std::vector<char>& buffer) {
    if (buffer.size() < outputChunk)
        buffer.resize(outputChunk);
    bool ours =
        entry.method == methodLzma || entry.method == methodXz || entry.method == methodZstd;
    CheckedSink out(entry, sink, ours);
    if (entry.size == 0) // nothing to decode, and no CRC to compare
        return;
    switch (entry.method) {
    case methodLzma:
        decodeLzma(archive, entry, out, buffer);
        break;
    case methodXz:
        decodeXz(archive, entry, out, buffer);
        break;
    case methodZstd:
        decodeZstd(archive, entry, out, buffer);
        break;
    default:
        decodeByLibrary(archive, entry, out, buffer);
        break;
    }
    out.finish();
}
