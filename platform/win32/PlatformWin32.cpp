#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include "../Exception.h"
#include "../Platform.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows strings are UTF-16");

std::u16string fromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

[[noreturn]] void throwLastError() {
    throw Exception(systemErrorMessage(static_cast<int>(::GetLastError())));
}

// --- processes -------------------------------------------------------------

// The snapshot functions are looked up once, by name, in the kernel32 that is
// already loaded; a system without them gives an empty walk instead of a
// program that does not start.
struct ToolhelpFunctions {
    using Snapshot = HANDLE(WINAPI*)(DWORD, DWORD);
    using Walk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
    Snapshot createSnapshot = nullptr;
    Walk first = nullptr;
    Walk next = nullptr;
};

template <typename Function> Function lookUp(HMODULE module, const char* name) {
    if (!module)
        return nullptr;
    // The cast through a generic function pointer keeps -Wcast-function-type quiet.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

const ToolhelpFunctions& toolhelp() {
    static const ToolhelpFunctions functions = [] {
        HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        ToolhelpFunctions found;
        found.createSnapshot =
            lookUp<ToolhelpFunctions::Snapshot>(kernel32, "CreateToolhelp32Snapshot");
        found.first = lookUp<ToolhelpFunctions::Walk>(kernel32, "Process32FirstW");
        found.next = lookUp<ToolhelpFunctions::Walk>(kernel32, "Process32NextW");
        return found;
    }();
    return functions;
}

// The record's size is the one this build's headers give it: 556 bytes in a
// 32-bit program, 568 in a 64-bit one, where the system refuses a smaller size.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32W) == 556);

class ToolhelpTable final : public ProcessTable {
public:
    void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) override {
        const ToolhelpFunctions& functions = toolhelp();
        if (!functions.createSnapshot || !functions.first || !functions.next)
            return;
        HANDLE snapshot = functions.createSnapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr)
            return;
        PROCESSENTRY32W record{};
        record.dwSize = sizeof record;
        for (BOOL delivered = functions.first(snapshot, &record); delivered;
             delivered = functions.next(snapshot, &record)) {
            ProcessEntry entry;
            entry.processId = record.th32ProcessID;
            entry.exeFile = fromWide(record.szExeFile, ::wcsnlen(record.szExeFile, MAX_PATH));
            visit(entry);
        }
        ::CloseHandle(snapshot);
    }

    void terminate(std::uint32_t processId) override {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, processId);
        if (!process)
            return; // another account's, higher rights, or ended since the snapshot
        ::TerminateProcess(process, 0);
        ::CloseHandle(process);
    }
};

// --- files -----------------------------------------------------------------

HANDLE handleOf(void* handle) {
    return static_cast<HANDLE>(handle);
}

LARGE_INTEGER largeInteger(std::uint64_t value) {
    LARGE_INTEGER result;
    result.QuadPart = static_cast<LONGLONG>(value);
    return result;
}

// Moves the end of the file to `size` and leaves the file position where it was.
void setEndOfFile(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(file, largeInteger(0), &position, FILE_CURRENT) ||
        !::SetFilePointerEx(file, largeInteger(size), nullptr, FILE_BEGIN))
        throwLastError();
    BOOL ended = ::SetEndOfFile(file);
    DWORD error = ::GetLastError();
    ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    if (!ended)
        throw Exception(systemErrorMessage(static_cast<int>(error)));
}

} // namespace

ProcessTable& systemProcessTable() {
    static ToolhelpTable table;
    return table;
}

bool moveFile(const Path& from, const Path& to) {
    return ::MoveFileW(from.c_str(), to.c_str()) != 0;
}

bool replaceFile(const Path& staged, const Path& target) {
    // A directory is refused by the system, but not by every implementation
    // of its API; a running executable is refused by the system. Either way
    // both files stay as they were.
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // The system refuses to replace a read-only file; it gets the staged file's
    // attributes anyway, so its own are dropped first and given back on failure.
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly && !::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    if (::MoveFileExW(staged.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (readOnly)
        ::SetFileAttributesW(target.c_str(), attributes);
    return false;
}

void moveAside(const Path& from, const Path& to) {
    DWORD attributes = ::GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throwLastError();
    // MoveFileExW would move a directory too, and the update would lose it.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw Exception(systemErrorMessage(ERROR_ACCESS_DENIED));
    if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        throwLastError();
}

bool discardFile(const Path& path) {
    if (::DeleteFileW(path.c_str()))
        return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (::DeleteFileW(path.c_str()))
        return true;
    ::SetFileAttributesW(path.c_str(), attributes);
    return false;
}

void flushFiles(const std::vector<Path::string_type>& files) {
    for (const Path::string_type& path : files) {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            throwLastError();
        BOOL flushed = ::FlushFileBuffers(file);
        DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (!flushed)
            throw Exception(systemErrorMessage(static_cast<int>(error)));
    }
}

void flushDirectories(const std::vector<Path>&) {
    // Every move of the install is made with MOVEFILE_WRITE_THROUGH.
}

bool lockedByAnother(const Path& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool fileExists(const Path& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A link: what counts is what it leads to.
    HANDLE file =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool isFile = ::GetFileInformationByHandle(file, &information) &&
                  !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    ::CloseHandle(file);
    return isFile;
}

bool deleteFile(const Path& path) {
    return ::DeleteFileW(path.c_str()) != 0;
}

void setLastWriteTimeFromDos(const Path& path, std::uint16_t dosDate, std::uint16_t dosTime) {
    FILETIME local, utc;
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local) ||
        !::LocalFileTimeToFileTime(&local, &utc))
        return;
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    ::SetFileTime(file, nullptr, nullptr, &utc);
    ::CloseHandle(file);
}

void setStagedAttributesFromZip(const Path&, std::uint8_t, std::uint32_t) {}

void setAttributesFromZip(const Path& path, std::uint8_t hostSystem,
                          std::uint32_t externalAttributes) {
    constexpr std::uint8_t unixHost = 3;
    constexpr std::uint32_t ownerWrite = 0200;
    DWORD attributes;
    if (hostSystem == unixHost && (externalAttributes >> 16) != 0)
        attributes = ((externalAttributes >> 16) & ownerWrite) ? 0 : FILE_ATTRIBUTE_READONLY;
    else
        attributes = externalAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    ::SetFileAttributesW(path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

NameCodePages nameCodePages() {
    return {::GetOEMCP(), ::GetACP()};
}

std::u16string systemErrorMessage(int code) {
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        if (buffer)
            ::LocalFree(buffer);
        return u"System error " + utf8ToUtf16(std::to_string(code));
    }
    // The system's texts end in a line break, which has no place inside a sentence.
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                          buffer[length - 1] == L' '))
        --length;
    std::u16string text = fromWide(buffer, length);
    ::LocalFree(buffer);
    return text;
}

File File::createExclusive(const Path& path) {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        throw Exception(u"Cannot create file \"" + path.u16string() + u"\". " +
                        systemErrorMessage(static_cast<int>(error)));
    }
    File file;
    file.handle_ = handle;
    return file;
}

File File::createNew(const Path& path) {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throwLastError();
    File file;
    file.handle_ = handle;
    return file;
}

File File::createLocked(const Path& path) {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throwLastError();
    File file;
    file.handle_ = handle;
    return file;
}

std::optional<File> File::openLocked(const Path& path, bool& held) {
    held = false;
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        if (error == ERROR_SHARING_VIOLATION) {
            held = true;
            return std::nullopt;
        }
        throw Exception(systemErrorMessage(static_cast<int>(error)));
    }
    File file;
    file.handle_ = handle;
    return file;
}

std::string File::readToEnd() {
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    for (;;) {
        if (!::ReadFile(handleOf(handle_), buffer, sizeof buffer, &got, nullptr))
            throwLastError();
        if (got == 0)
            return content;
        content.append(buffer, got);
    }
}

void File::flush() {
    if (!::FlushFileBuffers(handleOf(handle_)))
        throwLastError();
}

void File::startWriteback() {}

void File::deleteAndClose(const Path&) {
    // Share mode 0 lets no one else open it for the deletion, not even us.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    BOOL marked = ::SetFileInformationByHandle(handleOf(handle_), FileDispositionInfo, &disposition,
                                               sizeof disposition);
    DWORD error = ::GetLastError();
    close();
    if (!marked)
        throw Exception(systemErrorMessage(static_cast<int>(error)));
}

File::File(File&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle_)
            ::CloseHandle(handleOf(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

File::~File() {
    if (handle_)
        ::CloseHandle(handleOf(handle_));
}

void File::write(const void* data, std::size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handleOf(handle_), p, chunk, &written, nullptr))
            throwLastError();
        p += written;
        size -= written;
    }
}

std::size_t File::read(void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < size) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(handleOf(handle_), p + got, chunk, &n, nullptr))
            throwLastError();
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

void File::reserve(std::uint64_t size) {
    setEndOfFile(handleOf(handle_), size);
}

void File::truncate(std::uint64_t size) {
    setEndOfFile(handleOf(handle_), size);
}

void File::seek(std::uint64_t position) {
    if (!::SetFilePointerEx(handleOf(handle_), largeInteger(position), nullptr, FILE_BEGIN))
        throwLastError();
}

void File::close() {
    if (!handle_)
        return;
    HANDLE handle = handleOf(handle_);
    handle_ = nullptr;
    if (!::CloseHandle(handle))
        throwLastError();
}

bool File::isOpen() const {
    return handle_ != nullptr;
}

void sleepMilliseconds(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

void shellOpen(const Path& file, void* ownerWindow) {
    ::ShellExecuteW(static_cast<HWND>(ownerWindow), L"open", file.c_str(), L"", L"", SW_SHOWNORMAL);
}

} // namespace platform
