#include "ZipPackage.h"

#include "ExceptionQt.h"
#include "ZipLayout.h"

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

constexpr std::uint8_t unixHost = 3;
constexpr std::uint32_t dosDirectory = 0x10;
constexpr std::size_t readBuffer = 1 << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Shared for reading and writing by others, as the download left it.
FilePtr openForReading(const platform::Path& path, std::size_t buffer) {
    FilePtr file(platform::openForReading(path));
    // The library reads compressed data a few KiB at a time; one large buffer
    // turns that into few system calls.
    if (buffer > 0)
        std::setvbuf(file.get(), nullptr, _IOFBF, buffer);
    return file;
}

bool directoryExists(const platform::Path& base) {
    std::error_code ec;
    return std::filesystem::is_directory(base, ec);
}

bool endsWithSeparator(const QString& name) {
    return name.endsWith(u'/') || name.endsWith(u'\\');
}

} // namespace

ZipPackage::ZipPackage(const platform::Path& package, const platform::Path& baseDirectory) {
    if (!platform::fileExists(package))
        throw erro(QStringLiteral("File not found"));
    std::error_code ec;
    std::uint64_t size = std::filesystem::file_size(package, ec);
    if (ec || size == 0)
        throw erro(QStringLiteral("Invalid Stream"));

    // Small scattered reads of the layout go through their own handle, so that
    // the library's handle can have a large buffer for the entries' data.
    FilePtr layout = openForReading(package, 0);
    if (!looksLikeZip(layout.get(), size))
        throw erro(QStringLiteral("Unhandled Archive Type"));
    if (!directoryExists(baseDirectory))
        throw erro(QStringLiteral("Directory does not exist"));
    std::vector<CentralRecord> records;
    bool recordsRead = readCentralRecords(layout.get(), size, records);
    layout.reset();

    FilePtr file = openForReading(package, readBuffer);

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_filep_create(file.get(), 0, -1, &error);
    if (!source) {
        QString text = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        throw erro(text);
    }
    file.release(); // the source owns it now
    archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive_) {
        zip_source_free(source);
        int code = zip_error_code_zip(&error);
        QString text = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        if (code == ZIP_ER_MULTIDISK || code == ZIP_ER_MEMORY || code == ZIP_ER_READ ||
            code == ZIP_ER_SEEK)
            throw erro(text);
        throw erro(QStringLiteral("Invalid file - not a PKZip file"));
    }
    zip_error_fini(&error);

    zip_int64_t count = zip_get_num_entries(archive_, 0);
    if (!recordsRead || count < 0 || static_cast<std::uint64_t>(count) != records.size()) {
        close();
        throw erro(QStringLiteral("Invalid file - not a PKZip file"));
    }

    entries_.reserve(records.size());
    for (std::uint64_t i = 0; i < records.size(); ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive_, i, 0, &st) != 0) {
            close();
            throw erro(QStringLiteral("Invalid file - not a PKZip file"));
        }
        ZipEntry entry;
        entry.index = i;
        const char* name = zip_get_name(archive_, i, ZIP_FL_ENC_GUESS);
        entry.name = QString::fromUtf8(name ? name : "");
        entry.method = static_cast<std::uint16_t>(st.comp_method);
        entry.encrypted =
            (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        entry.crc = st.crc;
        entry.size = st.size;
        entry.versionNeeded = records[i].versionNeeded;
        entry.localHeaderFound = records[i].localHeaderFound;
        entry.dosDate = records[i].dosDate;
        entry.dosTime = records[i].dosTime;
        zip_file_get_external_attributes(archive_, i, 0, &entry.hostSystem,
                                         &entry.externalAttributes);
        std::uint32_t unixType = (entry.externalAttributes >> 16) & 0170000;
        bool unixEntry = entry.hostSystem == unixHost;
        entry.symlink = unixEntry && unixType == 0120000;
        entry.directory = endsWithSeparator(entry.name) ||
                          (entry.externalAttributes & dosDirectory) ||
                          (unixEntry && unixType == 0040000);
        entries_.push_back(std::move(entry));
    }
}

ZipPackage::~ZipPackage() {
    close();
}

void ZipPackage::close() {
    if (archive_) {
        zip_discard(archive_); // read-only: nothing to write back
        archive_ = nullptr;
    }
}
