#pragma once

#include "Platform.h"
#include "ZipPackage.h"

#include <functional>
#include <vector>

// A file entry decoded and verified into a temporary beside its target.
// The paths are kept as plain strings: a path object also keeps each of its
// components, several hundred bytes per entry of a large package.
struct StagedFile {
    const ZipEntry* entry = nullptr;
    platform::Path::string_type target;
    platform::Path::string_type temporary;
};

struct StagingOptions {
    unsigned workers = 0; // 0: stagingWorkers()
    // Called on the calling thread, again and again, while the workers run:
    // the window handles its events there.
    std::function<void()> keepAlive;
};

// What the staging asks of the install it prepares; called on the workers.
struct StagingHooks {
    // Whether a name is another entry's target, which a temporary must not take.
    std::function<bool(const platform::Path&)> isTarget;
    // Before each temporary is created, so that a record of it is made first.
    std::function<void(const platform::Path& temporary)> beforeTemporary;
    // Creates the missing directories up to `directory`; one worker at a time.
    std::function<void(const ZipEntry& entry, const platform::Path& directory)> createDirectories;
};

// The hardware threads, at most 8.
unsigned stagingWorkers();

// Each worker holds its own handles on the package and its own buffers: about
// this much memory, beside the state of an LZMA, xz or zstd decoder.
std::size_t stagingBytesPerWorker();

// Decodes every entry of `files` (file entries in central-directory order)
// into a new temporary beside its target below `baseDirectory`, on several
// threads, largest entries first. Returns the staged files in the order of
// `files`. On failure the workers stop, every temporary made is
// removed, and the error thrown is that of the earliest entry in `files` that
// failed, whatever the timing.
std::vector<StagedFile> stageFiles(const ZipPackage& package,
                                   const std::vector<const ZipEntry*>& files,
                                   const platform::Path& baseDirectory, const StagingHooks& hooks,
                                   const StagingOptions& options = {});
