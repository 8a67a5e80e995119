#pragma once

// What the updater needs from the operating system. One implementation per
// platform (posix/, win32/); nothing here knows about the layers above.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace platform {

using Path = std::filesystem::path;

// --- processes -------------------------------------------------------------

struct ProcessEntry {
    std::uint32_t processId = 0;
    std::u16string exeFile; // the executable's file name as the system lists it
};

// A process list that can be walked and whose members can be ended. The
// system's table is the real one; tests put their own behind it.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    // Takes a fresh snapshot, visits every entry, closes the snapshot. A
    // snapshot that cannot be taken visits nothing.
    virtual void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) = 0;
    // Immediate termination with exit code 0 (SIGKILL on POSIX). Silent on failure.
    virtual void terminate(std::uint32_t processId) = 0;
};

ProcessTable& systemProcessTable();

// --- files -----------------------------------------------------------------

// Renames without replacing an existing target. False when it did not happen.
bool moveFile(const Path& from, const Path& to);

// Moves a staged file over its target, replacing it. False, with the target
// untouched, when the target cannot be replaced (read-only, in use, a directory).
bool replaceFile(const Path& staged, const Path& target);

// A regular file (links followed) exists at the path.
bool fileExists(const Path& path);

bool deleteFile(const Path& path);

// Sets the last-write time from an MS-DOS date and time, read as local time.
// Failures are ignored.
void setLastWriteTimeFromDos(const Path& path, std::uint16_t dosDate, std::uint16_t dosTime);

// Applies a ZIP entry's stored attributes: `hostSystem` is the high byte of
// "version made by" (0 MS-DOS, 3 Unix, ...). On POSIX only permission bits,
// the owner always keeping read and write, group and others never getting
// write. Failures are ignored.
void setAttributesFromZip(const Path& path, std::uint8_t hostSystem,
                          std::uint32_t externalAttributes);

// The code pages that ZIP entry names which are not UTF-8 are decoded with:
// the OEM one for names written on MS-DOS hosts, the ANSI one for the others.
// Windows: the system's (GetOEMCP, GetACP). POSIX: those Windows assigns to
// the user's locale (LC_ALL, LC_CTYPE, LANG), 850 and 1252 when it names none.
struct NameCodePages {
    unsigned oem = 850;
    unsigned ansi = 1252;
};
NameCodePages nameCodePages();

// The system's text for an error code (errno / GetLastError).
std::u16string systemErrorMessage(int code);

// An open file handle for writing. Errors are thrown as Exception with the
// system's message.
class File {
public:
    // The package file: created or emptied, opened for reading and writing and
    // shared with no one while it is open. Throws
    // "Cannot create file \"<path>\". <system message>".
    static File createExclusive(const Path& path);
    // A new file that must not exist yet (staging temporaries).
    static File createNew(const Path& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    void write(const void* data, std::size_t size);
    // Sets the file's size, allocating the space so that a full disk fails here.
    void reserve(std::uint64_t size);
    void truncate(std::uint64_t size);
    void seek(std::uint64_t position);
    void close();
    bool isOpen() const;

private:
    File() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// --- the rest --------------------------------------------------------------

void sleepMilliseconds(unsigned milliseconds);

// Starts the file as an independent process, not waited for: an executable
// directly (new session, no arguments, the current directory as its working
// directory), anything else through the desktop's opener. Failures are ignored.
// `ownerWindow` is the native window handle on Windows, unused elsewhere.
void shellOpen(const Path& file, void* ownerWindow = nullptr);

} // namespace platform
