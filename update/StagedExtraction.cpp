#include "StagedExtraction.h"

#include "ArquivosProduto.h"
#include "EntryDecoder.h"
#include "EntryNames.h"
#include "ExceptionQt.h"

#include <QHash>

#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace {

// Versions above 6.3 announce features this reader does not know.
constexpr std::uint16_t highestVersionNeeded = 63;

[[noreturn]] void refuse(const ZipEntry& entry, const char* reason) {
    throw erro(QString::fromUtf8(reason) + QStringLiteral(" in entry ") + entry.name);
}

// Everything that can be known to fail from the directory alone fails here,
// before anything is written.
void checkEntries(const std::vector<ZipEntry>& entries) {
    for (const ZipEntry& entry : entries) {
        // The package itself is deleted after the extraction, and is open now.
        if (!isSafeEntryName(entry.name, entry.directory) ||
            namesThePackage(entry.name, QString::fromUtf16(produto::Pacote)))
            refuse(entry, "Unsafe file name");
        if (entry.symlink)
            refuse(entry, "Symbolic link not supported");
        if (entry.directory)
            continue;
        if ((entry.versionNeeded & 0xFF) > highestVersionNeeded)
            refuse(entry, "Version needed to extract not supported");
        if (!entry.localHeaderFound)
            refuse(entry, "Zip archive inconsistent");
        if (entry.encrypted)
            refuse(entry, "Encryption method not supported");
        if (!methodSupported(entry.method))
            refuse(entry, "Compression method not supported");
    }
}

// Staged files not yet installed; removed when the extraction fails. Kept as
// plain strings: a path object also keeps each of its components, several
// hundred bytes per entry of a large package.
class Temporaries {
public:
    Temporaries() = default;
    Temporaries(const Temporaries&) = delete;
    Temporaries& operator=(const Temporaries&) = delete;
    ~Temporaries() {
        for (const platform::Path::string_type& path : paths_)
            if (!path.empty())
                platform::deleteFile(path);
    }

    std::size_t add(const platform::Path& path) {
        paths_.push_back(path.native());
        return paths_.size() - 1;
    }
    platform::Path operator[](std::size_t i) const { return paths_[i]; }
    void release(std::size_t i) { platform::Path::string_type().swap(paths_[i]); }

private:
    std::vector<platform::Path::string_type> paths_;
};

[[noreturn]] void throwSystem(const std::error_code& ec) {
    throw Exception(platform::systemErrorMessage(ec.value()));
}

void createParentDirectories(const platform::Path& target) {
    platform::Path parent = target.parent_path();
    std::error_code ec;
    if (std::filesystem::is_directory(parent, ec))
        return;
    std::filesystem::create_directories(parent, ec);
    if (ec)
        throwSystem(ec);
}

// Every target of the package, compared without case so that it also holds
// where names are not case-sensitive. Only hashes are kept: a collision merely
// makes a temporary take its next name.
class Targets {
public:
    void add(const platform::Path& target) { keys_.insert(key(target)); }
    bool contains(const platform::Path& path) const { return keys_.count(key(path)) > 0; }

private:
    static std::size_t key(const platform::Path& path) {
        return qHash(QString::fromStdU16String(path.lexically_normal().u16string()).toCaseFolded());
    }
    std::unordered_set<std::size_t> keys_;
};

// A short name of our own beside the target, so that a long target name
// cannot make it too long, and one that is neither an existing file nor
// another entry's target, which would be moved over it.
platform::File createTemporary(const platform::Path& target, std::uint64_t index,
                               const Targets& targets, platform::Path& path) {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = ".vz" + std::to_string(index) + "-" + std::to_string(attempt) + ".tmp";
        path = target.parent_path() / name;
        std::error_code ec;
        if (targets.contains(path) ||
            std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            continue;
        return platform::File::createNew(path);
    }
}

// The target is found again from the entry's name, to keep this small.
struct Staged {
    const ZipEntry* entry;
    std::size_t temporary;
    bool installed = false;
};

} // namespace

void extractStaged(const ZipPackage& package, const platform::Path& baseDirectory) {
    const std::vector<ZipEntry>& entries = package.entries();
    checkEntries(entries);
    Targets targets;
    for (const ZipEntry& entry : entries)
        targets.add(targetPath(baseDirectory, entry.name));

    Temporaries temporaries;
    std::vector<Staged> staged;
    std::vector<platform::Path> directories;
    std::vector<char> buffer;
    for (const ZipEntry& entry : entries) {
        platform::Path target = targetPath(baseDirectory, entry.name);
        if (entry.directory) {
            directories.push_back(std::move(target));
            continue;
        }
        createParentDirectories(target);
        platform::Path temporaryPath;
        platform::File file = createTemporary(target, entry.index, targets, temporaryPath);
        std::size_t temporary = temporaries.add(temporaryPath);
        if (entry.size > 0)
            file.reserve(entry.size); // a full disk fails here, before any decoding
        decodeEntry(
            package.archive(), entry,
            [&file](const char* data, std::size_t size) { file.write(data, size); }, buffer);
        file.close();
        staged.push_back({&entry, temporary});
    }

    for (const platform::Path& directory : directories) {
        std::error_code ec; // one that cannot be made is skipped, as a file would be
        std::filesystem::create_directories(directory, ec);
    }
    for (Staged& s : staged) {
        s.installed = platform::replaceFile(temporaries[s.temporary],
                                            targetPath(baseDirectory, s.entry->name));
        if (!s.installed)
            platform::deleteFile(temporaries[s.temporary]);
        temporaries.release(s.temporary);
    }
    // After every move: a read-only entry must not block a later one of the
    // same name.
    for (const Staged& s : staged) {
        if (!s.installed)
            continue;
        const platform::Path target = targetPath(baseDirectory, s.entry->name);
        platform::setLastWriteTimeFromDos(target, s.entry->dosDate, s.entry->dosTime);
        // The platform keeps setuid, setgid and sticky bits out of it.
        platform::setAttributesFromZip(target, s.entry->hostSystem, s.entry->externalAttributes);
    }
}
