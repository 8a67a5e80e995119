#include "InstallTransaction.h"

#include "Exception.h"
#include "ExceptionQt.h"
#include "PathKeys.h"

#include <QString>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

namespace {

[[noreturn]] void failIn(const ZipEntry& entry, const std::exception& error) {
    throw erro(QString::fromStdU16String(messageOf(error)) + QStringLiteral(" in entry ") +
               entry.name);
}

bool present(const platform::Path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Names taken by this install: every target, and the backups chosen so far.
class TakenNames {
public:
    void add(const platform::Path& path) { names_.add(path); }
    bool free(const platform::Path& path) const { return !names_.contains(path) && !present(path); }

private:
    PathHashes names_;
};

// A backup named after its target where that fits, so that a start can find
// the one a running executable leaves; a short numbered name otherwise.
platform::Path chooseBackup(const platform::Path& target, std::size_t step, TakenNames& taken) {
    platform::Path named = backupOfRunningExecutable(target);
    // 255 is the longest name of the common file systems, in bytes or UTF-16 units.
    if (named.filename().u8string().size() <= 255 && taken.free(named)) {
        taken.add(named);
        return named;
    }
    for (unsigned attempt = 0;; ++attempt) {
        platform::Path path = target.parent_path() / (".vb" + std::to_string(step) + "-" +
                                                      std::to_string(attempt) + ".old");
        if (taken.free(path)) {
            taken.add(path);
            return path;
        }
    }
}

struct Step {
    const StagedFile* file;
    platform::Path::string_type backup;
    bool movedAside = false;
    bool movedIn = false;
};

// Undoes the steps already made, last first. False when something could not
// be put back: the journal then stays for the next start.
bool undo(std::vector<Step>& steps) {
    bool complete = true;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        try {
            if (it->movedIn)
                platform::moveAside(it->file->target, it->file->temporary);
            it->movedIn = false;
            if (it->movedAside)
                platform::moveAside(it->backup, it->file->target);
            it->movedAside = false;
        } catch (const std::exception&) {
            complete = false;
        }
    }
    return complete;
}

// The directories to create for an entry, outermost first.
std::vector<platform::Path> missingDirectories(const platform::Path& directory) {
    std::vector<platform::Path> missing;
    for (platform::Path d = directory; !d.empty() && !present(d); d = d.parent_path()) {
        missing.insert(missing.begin(), d);
        if (d == d.parent_path())
            break;
    }
    return missing;
}

} // namespace

void createDirectories(const platform::Path& directory, InstallJournal& journal) {
    for (const platform::Path& d : missingDirectories(directory)) {
        journal.directory(d);
        std::error_code ec;
        std::filesystem::create_directory(d, ec);
        if (ec)
            throw Exception(utf8ToUtf16(ec.message()));
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec))
        throw Exception(utf8ToUtf16(std::make_error_code(std::errc::not_a_directory).message()));
}

platform::Path backupOfRunningExecutable(const platform::Path& executable) {
    // Built piece by piece: u"." + a temporary string trips a false -Wrestrict in GCC 12.
    std::u16string name = u".";
    name += executable.filename().u16string();
    name += u".vzold";
    return executable.parent_path() / name;
}

void installStaged(const std::vector<StagedFile>& files,
                   const std::vector<StagedDirectory>& directories,
                   const platform::Path& executable, InstallJournal& journal) {
    TakenNames taken;
    for (const StagedFile& file : files)
        taken.add(file.target);
    for (const StagedDirectory& directory : directories)
        taken.add(directory.target);

    // An entry's directory that cannot be made ends the update like a file would.
    for (const StagedDirectory& directory : directories) {
        try {
            createDirectories(directory.target, journal);
        } catch (const std::exception& e) {
            failIn(*directory.entry, e);
        }
    }

    // The plan, with every backup name, is on the disk before the first move.
    std::vector<Step> steps;
    std::set<QString> filled;
    std::vector<platform::Path::string_type> stagedPaths;
    for (const StagedFile& file : files) {
        Step step{&file, {}};
        if (present(file.target) || filled.count(pathKey(file.target)))
            step.backup = chooseBackup(file.target, steps.size(), taken).native();
        filled.insert(pathKey(file.target));
        steps.push_back(std::move(step));
        stagedPaths.push_back(file.temporary);
    }
    platform::flushFiles(stagedPaths);
    stagedPaths = {};
    journal.beginMoves(steps.size(), [&steps](std::size_t i) {
        return InstallJournal::Move{steps[i].file->target, steps[i].file->temporary,
                                    steps[i].backup};
    });

    std::set<QString> touched;
    std::vector<platform::Path> touchedDirectories;
    // The directories this attempt made are entries of their parents.
    for (const platform::Path& created : journal.createdDirectories())
        if (touched.insert(pathKey(created.parent_path())).second)
            touchedDirectories.push_back(created.parent_path());
    try {
        for (Step& step : steps) {
            try {
                if (!step.backup.empty()) {
                    platform::moveAside(step.file->target, step.backup);
                    step.movedAside = true;
                }
                platform::moveAside(step.file->temporary, step.file->target);
                step.movedIn = true;
            } catch (const std::exception& e) {
                failIn(*step.file->entry, e);
            }
            const platform::Path parent = platform::Path(step.file->target).parent_path();
            if (touched.insert(pathKey(parent)).second)
                touchedDirectories.push_back(parent);
        }
        bool executableInstalled = false;
        for (const Step& step : steps) {
            std::error_code ec;
            if (pathKey(step.file->target) == pathKey(executable) &&
                std::filesystem::equivalent(step.file->target, executable, ec))
                executableInstalled = true;
        }
        if (!executableInstalled || !platform::fileExists(executable))
            throw erro(QStringLiteral("No ") +
                       QString::fromStdU16String(executable.filename().u16string()) +
                       QStringLiteral(" in the package"));
        platform::flushDirectories(touchedDirectories);
    } catch (...) {
        if (!undo(steps))
            journal.leaveForNextStart();
        throw;
    }

    // Only once every target is in place: until then a read-only attribute
    // could stand in the way of moving a file back.
    for (const StagedFile& file : files) {
        platform::setLastWriteTimeFromDos(file.target, file.entry->dosDate, file.entry->dosTime);
        // The platform keeps setuid, setgid and sticky bits out of it.
        platform::setAttributesFromZip(file.target, file.entry->hostSystem,
                                       file.entry->externalAttributes);
    }
    journal.installed();
    for (const Step& step : steps)
        if (!step.backup.empty())
            platform::discardFile(step.backup); // a running executable's stays for the next start
}
