#include "StagedExtraction.h"

#include "ArquivosProduto.h"
#include "EntryDecoder.h"
#include "EntryNames.h"
#include "ExceptionQt.h"
#include "InstallJournal.h"
#include "InstallTransaction.h"
#include "ParallelStaging.h"
#include "PathKeys.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// Versions above 6.3 announce features this reader does not know.
constexpr std::uint16_t highestVersionNeeded = 63;

[[noreturn]] void refuse(const ZipEntry& entry, const char* reason) {
    throw erro(QString::fromUtf8(reason) + QStringLiteral(" in entry ") + entry.name);
}

bool namedAtTop(const ZipEntry& entry, const char16_t* name) {
    const QStringList segments = nameSegments(entry.name);
    return segments.size() == 1 &&
           segments[0].compare(QString::fromUtf16(name), Qt::CaseInsensitive) == 0;
}

// Everything that can be known to fail from the directory alone fails here,
// before anything is written.
void checkEntries(const std::vector<ZipEntry>& entries) {
    bool executable = false;
    for (const ZipEntry& entry : entries) {
        // The journal is the updater's own; an entry may not replace it. The
        // package itself is deleted after the extraction, and is open now.
        if (!isSafeEntryName(entry.name, entry.directory) ||
            namedAtTop(entry, InstallJournal::fileName) ||
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
        // Whether it is the same name as the file system sees it is known
        // once it is in place.
        executable = executable || namedAtTop(entry, produto::Executavel);
    }
    if (!executable)
        throw erro(QStringLiteral("No ") + QString::fromUtf16(produto::Executavel) +
                   QStringLiteral(" in the package"));
}

// Staged files not yet installed; removed when the extraction fails. Kept as
// plain strings: a path object also keeps each of its components, several
// hundred bytes per entry of a large package.
class Temporaries {
public:
    explicit Temporaries(InstallJournal& journal) : journal_(journal) {}
    Temporaries(const Temporaries&) = delete;
    Temporaries& operator=(const Temporaries&) = delete;
    ~Temporaries() {
        for (const platform::Path::string_type& path : paths_)
            if (!path.empty())
                platform::deleteFile(path);
    }

    // Before the file is created: a kill right after must still find it.
    void record(const platform::Path& path) { journal_.temporary(path); }
    std::size_t add(const platform::Path& path) {
        paths_.push_back(path.native());
        return paths_.size() - 1;
    }
    platform::Path operator[](std::size_t i) const { return paths_[i]; }
    void releaseAll() { paths_.clear(); }

private:
    InstallJournal& journal_;
    std::vector<platform::Path::string_type> paths_;
};

// An entry's missing directories, each recorded in the journal first.
void createEntryDirectories(const ZipEntry& entry, const platform::Path& directory,
                            InstallJournal& journal) {
    try {
        createDirectories(directory, journal);
    } catch (const std::exception& e) {
        throw erro(QString::fromStdU16String(messageOf(e)) + QStringLiteral(" in entry ") +
                   entry.name);
    }
}

// Every target of the package: a temporary takes none of their names.
using Targets = PathHashes;

// What an attempt created outside the transaction's own undo: the
// directories, removed last first once the temporaries in them are gone.
void removeCreatedDirectories(const InstallJournal& journal) {
    const std::vector<platform::Path>& created = journal.createdDirectories();
    for (auto it = created.rbegin(); it != created.rend(); ++it) {
        std::error_code ec; // one that is not empty is not ours alone
        std::filesystem::remove(*it, ec);
    }
}

void stageAndInstall(const ZipPackage& package, const platform::Path& baseDirectory,
                     const Targets& targets, InstallJournal& journal,
                     const StagingOptions& options) {
    const std::vector<ZipEntry>& entries = package.entries();
    Temporaries temporaries(journal);
    std::vector<StagedDirectory> directories;
    std::vector<const ZipEntry*> files;
    for (const ZipEntry& entry : entries) {
        if (entry.directory)
            directories.push_back({&entry, targetPath(baseDirectory, entry.name)});
        else
            files.push_back(&entry);
    }

    StagingHooks hooks;
    hooks.isTarget = [&targets](const platform::Path& path) { return targets.contains(path); };
    hooks.beforeTemporary = [&temporaries](const platform::Path& path) {
        temporaries.record(path);
    };
    hooks.createDirectories = [&journal](const ZipEntry& entry, const platform::Path& directory) {
        createEntryDirectories(entry, directory, journal);
    };
    std::vector<StagedFile> staged = stageFiles(package, files, baseDirectory, hooks, options);
    for (const StagedFile& file : staged) {
        temporaries.add(file.temporary);
        platform::setStagedAttributesFromZip(file.temporary, file.entry->hostSystem,
                                             file.entry->externalAttributes);
    }

    installStaged(staged, directories,
                  baseDirectory / platform::Path(std::u16string(produto::Executavel)), journal);
    temporaries.releaseAll();
}

} // namespace

void extractStaged(const ZipPackage& package, const platform::Path& baseDirectory,
                   const StagingOptions& options) {
    const std::vector<ZipEntry>& entries = package.entries();
    checkEntries(entries);
    Targets targets;
    for (const ZipEntry& entry : entries)
        targets.add(targetPath(baseDirectory, entry.name));

    InstallJournal journal(baseDirectory);
    try {
        stageAndInstall(package, baseDirectory, targets, journal, options);
    } catch (...) {
        if (!journal.leftForNextStart()) {
            removeCreatedDirectories(journal);
            try {
                journal.remove();
            } catch (const std::exception&) {
                // the failure itself is what the user must see
            }
        }
        throw;
    }
    journal.remove();
}
