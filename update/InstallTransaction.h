#pragma once

#include "InstallJournal.h"
#include "ParallelStaging.h"
#include "Platform.h"
#include "ZipPackage.h"

#include <vector>

// A directory entry still to be created.
struct StagedDirectory {
    const ZipEntry* entry;
    platform::Path target;
};

// Puts every staged file in place of its target, in the given order, as one
// change: each existing target is moved aside to a backup beside it and the
// staged file moved in. Any failure moves everything back, in reverse, and
// throws "<reason> in entry <name>". Only when every target is in place are
// the times and attributes set and the backups removed. The staged files that
// were not moved in stay where they are, for the caller to remove.
//
// The update succeeds only if `executable` is then a file that came from the
// package, compared as the file system compares names.
void installStaged(const std::vector<StagedFile>& files,
                   const std::vector<StagedDirectory>& directories,
                   const platform::Path& executable, InstallJournal& journal);

// Creates the directory and the missing ones above it, each recorded in the
// journal first. Throws the system's reason.
void createDirectories(const platform::Path& directory, InstallJournal& journal);

// A start deletes what an update could not: its own running executable's
// backup, named after it beside it.
platform::Path backupOfRunningExecutable(const platform::Path& executable);
