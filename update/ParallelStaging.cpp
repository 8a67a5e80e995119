#include "ParallelStaging.h"

#include "DirectDecoder.h"
#include "EntryDecoder.h"
#include "EntryNames.h"
#include "ExceptionQt.h"
#include "PackageFile.h"

#include <zip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned mostWorkers = 8;
// For the methods the library decodes, which reads a few KiB at a time.
constexpr std::size_t libraryReadBuffer = 256 << 10;
constexpr std::size_t libraryOutput = 1 << 20;
constexpr std::size_t libraryRawInput = 256 << 10; // LZMA, xz and zstd read their data in these
constexpr auto keepAliveInterval = std::chrono::milliseconds(15);
constexpr std::uint64_t writebackEvery = 8 << 20;
constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

// A short name of our own beside the target, so that a long target name
// cannot make it too long, and one that is neither an existing file nor
// another entry's target, which would be moved over it. The entry's index in
// the name keeps workers from ever meeting on one file.
platform::File createTemporary(const platform::Path& target, std::uint64_t index,
                               const StagingHooks& hooks, platform::Path& path) {
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = ".vz" + std::to_string(index) + "-" + std::to_string(attempt) + ".tmp";
        path = target.parent_path() / name;
        std::error_code ec;
        if (hooks.isTarget(path) ||
            std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            continue;
        hooks.beforeTemporary(path);
        return platform::File::createNew(path);
    }
}

// Thrown out of a decode that another entry's failure made pointless.
struct Cancelled {};

// What the workers share. An entry is worth staging only while no entry
// before it (in the order of `files`) has failed: later ones stop, earlier
// ones go on, so that the earliest failure is always found.
class Shared {
public:
    explicit Shared(std::size_t count) : errors_(count) {}

    bool wanted(std::size_t position) const {
        return !abandoned_.load(std::memory_order_relaxed) &&
               position < firstFailed_.load(std::memory_order_relaxed);
    }

    void failed(std::size_t position, std::exception_ptr error) {
        errors_[position] = std::move(error);
        std::size_t seen = firstFailed_.load();
        while (position < seen && !firstFailed_.compare_exchange_weak(seen, position)) {
        }
    }

    void abandon() { abandoned_ = true; }

    std::exception_ptr firstError() const {
        std::size_t position = firstFailed_.load();
        return position == none ? nullptr : errors_[position];
    }

    std::mutex directories; // creating the same parents from two threads races

private:
    std::vector<std::exception_ptr> errors_;
    std::atomic<std::size_t> firstFailed_{none};
    std::atomic<bool> abandoned_{false};
};

struct ArchiveDiscard {
    void operator()(zip* archive) const { zip_discard(archive); }
};

// One thread's own handles and buffers.
class Worker {
public:
    Worker(const ZipPackage& package, const platform::Path& base, const StagingHooks& hooks,
           Shared& shared)
        : package_(package), base_(base), hooks_(hooks), shared_(shared) {}

    void stage(const ZipEntry& entry, std::size_t position, StagedFile& staged) {
        platform::Path target = targetPath(base_, entry.name);
        {
            std::lock_guard lock(shared_.directories);
            hooks_.createDirectories(entry, target.parent_path());
        }
        platform::Path temporaryPath;
        platform::File file = createTemporary(target, entry.index, hooks_, temporaryPath);
        staged.temporary = temporaryPath.native(); // from here on, removed on failure
        if (entry.size > 0)
            file.reserve(entry.size); // a full disk fails here, before any decoding
        // The disk writes while the entries decode, instead of all at the
        // flush before the install.
        std::uint64_t unsubmitted = 0;
        ByteSink sink = [&](const char* data, std::size_t size) {
            if (!shared_.wanted(position))
                throw Cancelled{};
            file.write(data, size);
            unsubmitted += size;
            if (unsubmitted >= writebackEvery) {
                file.startWriteback();
                unsubmitted = 0;
            }
        };
        if (DirectDecoder::handles(entry))
            direct_.decode(directFile(), entry, sink);
        else
            decodeEntry(libraryArchive(), entry, sink, buffer_);
        file.startWriteback();
        file.close();
        staged.entry = &entry;
        staged.target = target.native();
    }

private:
    // Unbuffered: every read is large and lands in the decoder's own buffer.
    std::FILE* directFile() {
        if (!directFile_) {
            directFile_ = openPackageFile(package_.path(), 0);
            std::setvbuf(directFile_.get(), nullptr, _IONBF, 0);
        }
        return directFile_.get();
    }

    zip* libraryArchive() {
        if (archive_)
            return archive_.get();
        PackageFilePtr file = openPackageFile(package_.path(), libraryReadBuffer);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_filep_create(file.get(), 0, -1, &error);
        zip* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
        if (source && !archive)
            zip_source_free(source);
        if (!archive) {
            QString text = QString::fromUtf8(zip_error_strerror(&error));
            zip_error_fini(&error);
            throw erro(text);
        }
        zip_error_fini(&error);
        file.release(); // the archive owns it now
        archive_.reset(archive);
        return archive;
    }

    const ZipPackage& package_;
    const platform::Path& base_;
    const StagingHooks& hooks_;
    Shared& shared_;
    PackageFilePtr directFile_;
    DirectDecoder direct_;
    std::unique_ptr<zip, ArchiveDiscard> archive_;
    std::vector<char> buffer_;
};

void removeTemporaries(const std::vector<StagedFile>& staged) {
    for (const StagedFile& s : staged)
        if (!s.temporary.empty())
            platform::deleteFile(s.temporary);
}

} // namespace

unsigned stagingWorkers() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, mostWorkers);
}

std::size_t stagingBytesPerWorker() {
    return DirectDecoder::bufferBytes() + libraryReadBuffer + libraryOutput + libraryRawInput;
}

std::vector<StagedFile> stageFiles(const ZipPackage& package,
                                   const std::vector<const ZipEntry*>& files,
                                   const platform::Path& baseDirectory, const StagingHooks& hooks,
                                   const StagingOptions& options) {
    std::vector<StagedFile> staged(files.size());
    if (files.empty())
        return staged;

    // Largest first, so that a large entry does not start last and run alone.
    std::vector<std::size_t> order(files.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&files](std::size_t a, std::size_t b) {
        return files[a]->size > files[b]->size;
    });

    Shared shared(files.size());
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;

    auto work = [&] {
        try {
            Worker worker(package, baseDirectory, hooks, shared);
            for (std::size_t i; (i = next.fetch_add(1)) < order.size();) {
                std::size_t position = order[i];
                if (!shared.wanted(position))
                    continue;
                try {
                    worker.stage(*files[position], position, staged[position]);
                } catch (const Cancelled&) {
                } catch (...) {
                    shared.failed(position, std::current_exception());
                }
            }
        } catch (...) { // the worker's own set-up; reported as the first entry's
            shared.failed(0, std::current_exception());
        }
        std::lock_guard lock(mutex);
        --running;
        finished.notify_all();
    };

    unsigned count = options.workers ? options.workers : stagingWorkers();
    count = static_cast<unsigned>(std::min<std::size_t>(count, files.size()));
    std::vector<std::thread> threads;
    std::exception_ptr ownError;
    try {
        for (unsigned t = 0; t < count; ++t) {
            {
                std::lock_guard lock(mutex);
                ++running;
            }
            try {
                threads.emplace_back(work);
            } catch (...) {
                std::lock_guard lock(mutex);
                --running;
                throw;
            }
        }
        std::unique_lock lock(mutex);
        auto done = [&] { return running == 0; };
        if (options.keepAlive) {
            do {
                lock.unlock();
                options.keepAlive();
                lock.lock();
            } while (!finished.wait_for(lock, keepAliveInterval, done));
        } else {
            finished.wait(lock, done);
        }
    } catch (...) {
        ownError = std::current_exception();
        shared.abandon();
    }
    for (std::thread& thread : threads)
        thread.join();

    std::exception_ptr error = ownError ? ownError : shared.firstError();
    if (error) {
        removeTemporaries(staged);
        std::rethrow_exception(error);
    }
    return staged;
}
