#pragma once

// What the updater needs from the operating system. One implementation per
// platform (posix/, win32/); nothing here knows about the layers above.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Moves a staged file over its target, replacing it, whatever the target's
// mode or read-only attribute. False, with the target untouched, when the
// target cannot be replaced (in use, a directory).
bool replaceFile(const Path& staged, const Path& target);

// Renames the file `from` to `to`, which must be free, in the same directory
// or volume; written through to the disk on Windows. A file of any mode or
// attribute moves. Throws Exception with the system's reason when it cannot:
// a directory, a file held open without delete sharing, a name the file
// system refuses, `to` taken.
void moveAside(const Path& from, const Path& to);

// Deletes a file of our own, read-only or not. False when it is still there
// (on Windows, a running executable).
bool discardFile(const Path& path);

// The files' data and size on the disk (one syncfs per file system on Linux).
// Throws Exception with the system's reason. Plain strings, as a large
// package's list is long.
void flushFiles(const std::vector<Path::string_type>& files);

// The entries of each directory on the disk (fsync; on Windows the moves
// are written through and this does nothing). Throws Exception.
void flushDirectories(const std::vector<Path>& directories);

// A file that another process holds locked: the package during a download,
// the journal of a running update.
bool lockedByAnother(const Path& path);

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

// What of those attributes a staged file must carry before it takes its
// target's place, so that an update cut short never leaves a program that
// cannot start: the permission bits on POSIX; nothing on Windows, where a
// read-only staged file could not be removed again.
void setStagedAttributesFromZip(const Path& path, std::uint8_t hostSystem,
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
    // A new file, read and written only through this handle and locked for
    // as long as it is open (share mode 0 / flock), so that another process
    // can tell a live holder from a leftover. Throws the system's reason.
    static File createLocked(const Path& path);
    // The existing file, opened and locked as createLocked does. Empty when
    // there is no file; `held` is set when another process holds it.
    static std::optional<File> openLocked(const Path& path, bool& held);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    void write(const void* data, std::size_t size);
    // Reads from the current position; fewer bytes than asked only at the end.
    std::size_t read(void* data, std::size_t size);
    // Sets the file's size, allocating the space so that a full disk fails here.
    void reserve(std::uint64_t size);
    void truncate(std::uint64_t size);
    void seek(std::uint64_t position);
    // Everything read from the current position to the end.
    std::string readToEnd();
    // The data written so far, on the disk (fdatasync / FlushFileBuffers).
    void flush();
    // Starts writing the data written so far to the disk and returns at once,
    // so that a later flush has little left to wait for (sync_file_range on
    // Linux; nothing on Windows, whose cache writes behind by itself).
    void startWriteback();
    void close();
    // Deletes the file this handle has open, then closes it; `path` is the
    // name it was opened under.
    void deleteAndClose(const Path& path);
    bool isOpen() const;

private:
    File() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// --- sockets ---------------------------------------------------------------

// Bytes the system has received so far on a connected TCP socket, counted
// below any TLS; nothing when the system cannot tell.
std::optional<std::uint64_t> tcpBytesReceived(std::intptr_t socket);

void closeSocket(std::intptr_t socket);

// An existing file opened for reading, left shared with writers and deleters
// (others may hold it open, as the download does). The caller closes it with
// fclose. Throws "Cannot open file \"<path>\". <system message>".
std::FILE* openForReading(const Path& path);

// Positions a stream at a byte offset, 64-bit offsets included.
bool seekTo(std::FILE* file, std::uint64_t offset);

// The characters after which a path's file name begins ("/" on POSIX; "\",
// "/" and the drive's ":" on Windows).
std::u16string_view pathSeparators();

// --- text and the network --------------------------------------------------

// The bytes decoded from the named character set (as a Content-Type names it,
// letters in any case) by the system's converter; an invalid sequence becomes
// a replacement character. Nothing when the system does not know the name.
std::optional<std::u16string> decodeCharset(std::string_view bytes, std::string_view charset);

// The Windows Sockets number of a socket error as the system reports it
// (errno on POSIX, WSAGetLastError on Windows); 0 when there is none.
int windowsSocketsNumber(int osError);

// The socket error whose system text appears in a message, as an error code
// of the system; 0 when none does.
int socketErrorNamedIn(std::string_view message);

// True where the TLS library has no roots of its own and must be told to take
// the system's certificate store (Windows); false where it is built with the
// system's CA file and directory (POSIX).
bool tlsRootsFromSystemStore();

// --- the rest --------------------------------------------------------------

void sleepMilliseconds(unsigned milliseconds);

// Starts the file as an independent process, not waited for: an executable
// directly (new session, no arguments, the current directory as its working
// directory), anything else through the desktop's opener. Failures are ignored.
// `ownerWindow` is the native window handle on Windows, unused elsewhere.
void shellOpen(const Path& file, void* ownerWindow = nullptr);

} // namespace platform
