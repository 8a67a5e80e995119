#include "StagedExtraction.h"

#include "EntryDecoder.h"
#include "EntryNames.h"
#include "ExceptionQt.h"
#include "ParallelStaging.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>
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
        if (!isSafeEntryName(entry.name, entry.directory))
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

// Staged files not yet installed; removed when the extraction fails.
class Temporaries {
public:
    Temporaries() = default;
    Temporaries(const Temporaries&) = delete;
    Temporaries& operator=(const Temporaries&) = delete;
    ~Temporaries() {
        for (const platform::Path& path : paths_)
            if (!path.empty())
                platform::deleteFile(path);
    }

    std::size_t add(platform::Path path) {
        paths_.push_back(std::move(path));
        return paths_.size() - 1;
    }
    const platform::Path& operator[](std::size_t i) const { return paths_[i]; }
    void release(std::size_t i) { paths_[i].clear(); }

private:
    std::vector<platform::Path> paths_;
};

// Every target of the package, compared without case so that it also holds
// where names are not case-sensitive.
class Targets {
public:
    void add(const platform::Path& target) { keys_.insert(key(target)); }
    bool contains(const platform::Path& path) const { return keys_.count(key(path)) > 0; }

private:
    static QString key(const platform::Path& path) {
        return QString::fromStdU16String(path.lexically_normal().u16string()).toCaseFolded();
    }
    std::set<QString> keys_;
};

struct Staged {
    const ZipEntry* entry;
    platform::Path target;
    std::size_t temporary;
    bool installed = false;
};

} // namespace

void extractStaged(const ZipPackage& package, const platform::Path& baseDirectory,
                   const StagingOptions& options) {
    const std::vector<ZipEntry>& entries = package.entries();
    checkEntries(entries);
    Targets targets;
    for (const ZipEntry& entry : entries)
        targets.add(targetPath(baseDirectory, entry.name));

    Temporaries temporaries;
    std::vector<Staged> staged;
    std::vector<platform::Path> directories;
    std::vector<const ZipEntry*> files;
    for (const ZipEntry& entry : entries) {
        if (entry.directory)
            directories.push_back(targetPath(baseDirectory, entry.name));
        else
            files.push_back(&entry);
    }
    auto isTarget = [&targets](const platform::Path& path) { return targets.contains(path); };
    for (StagedFile& file : stageFiles(package, files, baseDirectory, isTarget, options))
        staged.push_back({file.entry, std::move(file.target), temporaries.add(file.temporary)});

    for (const platform::Path& directory : directories) {
        std::error_code ec; // one that cannot be made is skipped, as a file would be
        std::filesystem::create_directories(directory, ec);
    }
    for (Staged& s : staged) {
        s.installed = platform::replaceFile(temporaries[s.temporary], s.target);
        if (!s.installed)
            platform::deleteFile(temporaries[s.temporary]);
        temporaries.release(s.temporary);
    }
    // After every move: a read-only entry must not block a later one of the
    // same name.
    for (const Staged& s : staged) {
        if (!s.installed)
            continue;
        platform::setLastWriteTimeFromDos(s.target, s.entry->dosDate, s.entry->dosTime);
        // The platform keeps setuid, setgid and sticky bits out of it.
        platform::setAttributesFromZip(s.target, s.entry->hostSystem, s.entry->externalAttributes);
    }
}
