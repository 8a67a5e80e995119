#include "ZipFixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <lzma.h>
#include <zip.h>
#include <zlib.h>
#include <zstd.h>

#include <memory>
#include <stdexcept>

namespace {

std::uint16_t methodOf(Codec codec) {
    switch (codec) {
    case Codec::Lzma:
        return 14;
    case Codec::Xz:
        return 95;
    case Codec::Zstd:
        return 93;
    default:
        return 0;
    }
}

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

} // namespace

QByteArray lzmaEntryData(const QByteArray& data) {
    lzma_options_lzma options;
    check(!lzma_lzma_preset(&options, 6), "lzma preset");
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::uint8_t properties[5];
    check(lzma_properties_encode(filters, properties) == LZMA_OK, "lzma properties");

    QByteArray out(data.size() + data.size() / 2 + 4096, '\0');
    lzma_stream stream = LZMA_STREAM_INIT;
    check(lzma_raw_encoder(&stream, filters) == LZMA_OK, "lzma encoder");
    stream.next_in = reinterpret_cast<const std::uint8_t*>(data.constData());
    stream.avail_in = static_cast<std::size_t>(data.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream.avail_out = static_cast<std::size_t>(out.size());
    check(lzma_code(&stream, LZMA_FINISH) == LZMA_STREAM_END, "lzma encode");
    out.resize(static_cast<qsizetype>(stream.total_out));
    lzma_end(&stream);

    // LZMA SDK version, then the properties' size and the properties.
    QByteArray header("\x10\x02\x05\x00", 4);
    header.append(reinterpret_cast<const char*>(properties), 5);
    return header + out;
}

QByteArray xzData(const QByteArray& data) {
    QByteArray out(static_cast<qsizetype>(lzma_stream_buffer_bound(data.size())), '\0');
    std::size_t written = 0;
    check(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                                  reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  data.size(), reinterpret_cast<std::uint8_t*>(out.data()),
                                  &written, out.size()) == LZMA_OK,
          "xz encode");
    out.resize(static_cast<qsizetype>(written));
    return out;
}

QByteArray zstdData(const QByteArray& data) {
    QByteArray out(static_cast<qsizetype>(ZSTD_compressBound(data.size())), '\0');
    std::size_t n = ZSTD_compress(out.data(), out.size(), data.constData(), data.size(), 3);
    check(!ZSTD_isError(n), "zstd encode");
    out.resize(static_cast<qsizetype>(n));
    return out;
}

QByteArray zstdDataClaimingWindow(const QByteArray& data, int windowLog) {
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> cctx(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    QByteArray out(static_cast<qsizetype>(ZSTD_compressBound(data.size()) + 64), '\0');
    ZSTD_inBuffer in{data.constData(), static_cast<std::size_t>(data.size()), 0};
    ZSTD_outBuffer o{out.data(), static_cast<std::size_t>(out.size()), 0};
    // A first call that does not end the frame leaves its size unknown.
    check(!ZSTD_isError(ZSTD_compressStream2(cctx.get(), &o, &in, ZSTD_e_continue)), "zstd");
    std::size_t left;
    do {
        left = ZSTD_compressStream2(cctx.get(), &o, &in, ZSTD_e_end);
        check(!ZSTD_isError(left), "zstd end");
    } while (left != 0);
    out.resize(static_cast<qsizetype>(o.pos));
    // Magic number, frame header descriptor, then the window descriptor.
    check((static_cast<unsigned char>(out[4]) & 0x20) == 0, "zstd single segment");
    out[5] = static_cast<char>((windowLog - 10) << 3);
    return out;
}

QByteArray xzDataClaimingLargestDictionary(const QByteArray& data) {
    QByteArray xz = xzData(data);
    // The first block header follows the 12-byte stream header; its LZMA2
    // filter flags are the filter ID 0x21, the property size 1, the property.
    const int block = 12;
    const int size = (static_cast<unsigned char>(xz[block]) + 1) * 4;
    const int filter = static_cast<int>(xz.indexOf(QByteArray("\x21\x01", 2), block));
    check(filter > block && filter + 3 <= block + size - 4, "xz filter flags");
    xz[filter + 2] = 40;
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(xz.constData() + block), size - 4));
    for (int i = 0; i < 4; ++i)
        xz[block + size - 4 + i] = static_cast<char>(crc >> (8 * i));
    return xz;
}

QByteArray buildZip(const QList<FixtureEntry>& entries, const QByteArray& comment) {
    QTemporaryDir dir;
    QByteArray path = dir.filePath(QStringLiteral("fixture.zip")).toLocal8Bit();
    int error = 0;
    zip_t* za = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    check(za, "zip_open");

    std::vector<QByteArray> keep; // libzip reads the buffers at zip_close
    QList<int> relabelled;
    for (const FixtureEntry& e : entries) {
        zip_int64_t index;
        if (e.directory) {
            index = zip_dir_add(za, e.name.constData(), ZIP_FL_ENC_GUESS);
        } else {
            QByteArray payload = e.data;
            if (!e.compressed.isNull())
                payload = e.compressed;
            else if (e.codec == Codec::Lzma)
                payload = lzmaEntryData(e.data);
            else if (e.codec == Codec::Xz)
                payload = xzData(e.data);
            else if (e.codec == Codec::Zstd)
                payload = zstdData(e.data);
            keep.push_back(payload);
            zip_source_t* src =
                zip_source_buffer(za, keep.back().constData(), keep.back().size(), 0);
            index = zip_file_add(za, e.name.constData(), src, ZIP_FL_ENC_GUESS);
            check(index >= 0, "zip_file_add");
            zip_int32_t method = e.codec == Codec::Deflate ? ZIP_CM_DEFLATE
                                 : e.codec == Codec::Bzip2 ? ZIP_CM_BZIP2
                                                           : ZIP_CM_STORE;
            check(zip_set_file_compression(za, index, method, 0) == 0, "compression");
            if (e.encrypted)
                check(zip_file_set_encryption(za, index, ZIP_EM_TRAD_PKWARE, "segredo") == 0,
                      "encryption");
        }
        check(index >= 0, "zip add");
        if (e.hostSystem >= 0)
            check(zip_file_set_external_attributes(za, index, 0,
                                                   static_cast<zip_uint8_t>(e.hostSystem),
                                                   e.externalAttributes) == 0,
                  "attributes");
        if (e.mtime)
            check(zip_file_set_mtime(za, index, e.mtime, 0) == 0, "mtime");
    }
    if (!comment.isEmpty())
        zip_set_archive_comment(za, comment.constData(), static_cast<zip_uint16_t>(comment.size()));
    check(zip_close(za) == 0, "zip_close");

    QFile file(QString::fromLocal8Bit(path));
    if (entries.isEmpty() && !file.exists()) { // libzip writes no file for an empty archive
        QByteArray end("PK\x05\x06", 4);
        end.append(16, '\0');
        end.append(char(comment.size() & 0xFF)).append(char(comment.size() >> 8));
        return end + comment;
    }
    check(file.open(QIODevice::ReadOnly), "read fixture");
    QByteArray zip = file.readAll();

    ZipPatcher patch(zip);
    for (int i = 0; i < entries.size(); ++i) {
        const FixtureEntry& e = entries[i];
        if (e.directory || methodOf(e.codec) == 0)
            continue;
        patch.setMethod(i, methodOf(e.codec));
        patch.setCrc(i, static_cast<std::uint32_t>(
                            crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()),
                                  static_cast<uInt>(e.data.size()))));
        patch.setUncompressedSize(i, static_cast<std::uint32_t>(e.data.size()));
        if (e.codec == Codec::Lzma)
            patch.setFlags(i, patch.flags(i) | 0x0002); // end marker present
    }
    return zip;
}

ZipPatcher::ZipPatcher(QByteArray& zip) : zip_(zip) {
    for (int i = static_cast<int>(zip.size()) - 22; i >= 0; --i)
        if (get32(i) == 0x06054b50) {
            end_ = i;
            break;
        }
    check(end_ >= 0, "no end record");
}

int ZipPatcher::central(int entry) const {
    int at = static_cast<int>(get32(end_ + 16));
    for (int i = 0; i < entry; ++i)
        at += 46 + get16(at + 28) + get16(at + 30) + get16(at + 32);
    check(get32(at) == 0x02014b50, "central header");
    return at;
}

int ZipPatcher::local(int entry) const {
    return static_cast<int>(get32(central(entry) + 42));
}

int ZipPatcher::data(int entry) const {
    int at = local(entry);
    return at + 30 + get16(at + 26) + get16(at + 28);
}

void ZipPatcher::setMethod(int entry, std::uint16_t method) {
    put16(central(entry) + 10, method);
    put16(local(entry) + 8, method);
}

void ZipPatcher::setFlags(int entry, std::uint16_t flags) {
    put16(central(entry) + 8, flags);
    put16(local(entry) + 6, flags);
}

std::uint16_t ZipPatcher::flags(int entry) const {
    return get16(central(entry) + 8);
}

void ZipPatcher::setCrc(int entry, std::uint32_t crc) {
    put32(central(entry) + 16, crc);
    put32(local(entry) + 14, crc);
}

std::uint32_t ZipPatcher::crc(int entry) const {
    return get32(central(entry) + 16);
}

void ZipPatcher::setUncompressedSize(int entry, std::uint32_t size) {
    put32(central(entry) + 24, size);
    put32(local(entry) + 22, size);
}

void ZipPatcher::setVersionNeeded(int entry, std::uint16_t version) {
    put16(central(entry) + 6, version);
    put16(local(entry) + 4, version);
}

void ZipPatcher::setName(int entry, const QByteArray& name) {
    int c = central(entry);
    int l = local(entry);
    check(get16(c + 28) == name.size() && get16(l + 26) == name.size(), "name length");
    zip_.replace(c + 46, name.size(), name);
    zip_.replace(l + 30, name.size(), name);
}

void ZipPatcher::put16(int at, std::uint16_t value) {
    zip_[at] = static_cast<char>(value & 0xFF);
    zip_[at + 1] = static_cast<char>(value >> 8);
}

void ZipPatcher::put32(int at, std::uint32_t value) {
    put16(at, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t ZipPatcher::get16(int at) const {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(zip_[at]) |
                                      static_cast<unsigned char>(zip_[at + 1]) << 8);
}

std::uint32_t ZipPatcher::get32(int at) const {
    return static_cast<std::uint32_t>(get16(at)) | static_cast<std::uint32_t>(get16(at + 2)) << 16;
}

void toZip64(QByteArray& zip) {
    ZipPatcher p(zip);
    const int end = p.endRecord();
    const std::uint64_t entries = p.get16(end + 10);
    const std::uint64_t size = p.get32(end + 12);
    const std::uint64_t offset = p.get32(end + 16);

    auto le = [](std::uint64_t value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> (8 * i) & 0xFF));
        return out;
    };
    QByteArray record = le(0x06064b50, 4) + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 4) +
                        le(0, 4) + le(entries, 8) + le(entries, 8) + le(size, 8) + le(offset, 8);
    QByteArray locator = le(0x07064b50, 4) + le(0, 4) + le(std::uint64_t(end), 8) + le(1, 4);
    zip.insert(end, record + locator);

    ZipPatcher q(zip);
    q.put16(q.endRecord() + 8, 0xFFFF);
    q.put16(q.endRecord() + 10, 0xFFFF);
    q.put32(q.endRecord() + 12, 0xFFFFFFFF);
    q.put32(q.endRecord() + 16, 0xFFFFFFFF);
}
