#include "DirectDecoder.h"

#include "ExceptionQt.h"
#include "PackageFile.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

constexpr std::uint16_t methodStore = 0;
constexpr std::uint16_t methodDeflate = 8;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::size_t localHeaderSize = 30;

// Large enough that a read costs little per byte, small enough that a block
// inflated is still in the cache when its CRC is computed and it is written.
constexpr std::size_t inputChunk = 256 << 10;
constexpr std::size_t outputChunk = 256 << 10;

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}

// The library's own text for the error, so that both paths read alike.
[[noreturn]] void failWith(const ZipEntry& entry, int zipErrorCode, int systemError = 0) {
    zip_error_t error;
    zip_error_init(&error);
    zip_error_set(&error, zipErrorCode, systemError);
    QString reason = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    throw erro(reason + QStringLiteral(" in entry ") + entry.name);
}

// The entry's compressed bytes, from the end of its local header to the size
// the central directory gives.
class CompressedData {
public:
    CompressedData(std::FILE* file, const ZipEntry& entry) : file_(file), entry_(entry) {
        unsigned char header[localHeaderSize];
        if (!readPackageAt(file, entry.localHeaderOffset, header, sizeof header) ||
            le32(header) != localSignature)
            failWith(entry, ZIP_ER_INCONS);
        std::uint64_t offset =
            entry.localHeaderOffset + sizeof header + le16(header + 26) + le16(header + 28);
        if (!seekPackage(file, offset))
            failWith(entry, ZIP_ER_SEEK, errno);
        left_ = entry.compressedSize;
    }

    std::uint64_t left() const { return left_; }

    std::size_t read(unsigned char* data, std::size_t size) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
        std::size_t n = std::fread(data, 1, wanted, file_);
        if (n < wanted) {
            if (std::ferror(file_))
                failWith(entry_, ZIP_ER_READ, errno);
            failWith(entry_, ZIP_ER_EOF);
        }
        left_ -= n;
        return n;
    }

private:
    std::FILE* file_;
    const ZipEntry& entry_;
    std::uint64_t left_ = 0;
};

// Refuses more bytes than the directory announced, so that a lying size cannot
// fill the disk, and keeps the CRC-32.
class Output {
public:
    Output(const ZipEntry& entry, const ByteSink& sink) : entry_(entry), sink_(sink) {}

    void operator()(const char* data, std::size_t size) {
        if (size == 0)
            return;
        if (size > entry_.size - written_)
            failWith(entry_, ZIP_ER_INCONS);
        written_ += size;
        crc_ = crc32_z(crc_, reinterpret_cast<const Bytef*>(data), size);
        sink_(data, size);
    }

    void finish() const {
        if (written_ != entry_.size)
            failWith(entry_, ZIP_ER_INCONS);
        if (crc_ != entry_.crc)
            failWith(entry_, ZIP_ER_CRC);
    }

private:
    const ZipEntry& entry_;
    const ByteSink& sink_;
    std::uint64_t written_ = 0;
    uLong crc_ = crc32_z(0, nullptr, 0);
};

} // namespace

struct DirectDecoder::Inflater {
    z_stream stream{};
    bool ready = false;
    ~Inflater() {
        if (ready)
            inflateEnd(&stream);
    }
};

DirectDecoder::DirectDecoder()
    : inflater_(std::make_unique<Inflater>()), input_(new unsigned char[inputChunk]),
      output_(new char[outputChunk]) {}

DirectDecoder::~DirectDecoder() = default;

bool DirectDecoder::handles(const ZipEntry& entry) {
    return entry.method == methodStore || entry.method == methodDeflate;
}

std::size_t DirectDecoder::bufferBytes() {
    return inputChunk + outputChunk;
}

void DirectDecoder::decode(std::FILE* package, const ZipEntry& entry, const ByteSink& sink) {
    Output out(entry, sink);
    if (entry.size == 0) // nothing to decode, and no CRC to compare
        return;
    CompressedData data(package, entry);
    if (entry.method == methodStore) {
        while (data.left() > 0) {
            std::size_t n = data.read(input_.get(), inputChunk);
            out(reinterpret_cast<const char*>(input_.get()), n);
        }
        out.finish();
        return;
    }

    z_stream& z = inflater_->stream;
    int ret = inflater_->ready ? inflateReset(&z) : inflateInit2(&z, -MAX_WBITS);
    if (ret == Z_MEM_ERROR)
        throw std::bad_alloc();
    if (ret != Z_OK)
        failWith(entry, ZIP_ER_ZLIB, ret);
    inflater_->ready = true;
    z.avail_in = 0;
    for (;;) {
        if (z.avail_in == 0) {
            // Data that ends before the stream does leaves the size short,
            // which the size check names.
            if (data.left() == 0)
                break;
            z.next_in = input_.get();
            z.avail_in = static_cast<uInt>(data.read(input_.get(), inputChunk));
        }
        z.next_out = reinterpret_cast<Bytef*>(output_.get());
        z.avail_out = static_cast<uInt>(outputChunk);
        ret = inflate(&z, Z_NO_FLUSH);
        if (ret == Z_MEM_ERROR)
            throw std::bad_alloc();
        // No progress with input and room for output would never end.
        bool stuck = ret == Z_BUF_ERROR && z.avail_in > 0;
        if ((ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) || stuck)
            failWith(entry, ZIP_ER_ZLIB, stuck || ret == Z_NEED_DICT ? Z_DATA_ERROR : ret);
        out(output_.get(), outputChunk - z.avail_out);
        if (ret == Z_STREAM_END)
            break;
    }
    out.finish();
}
