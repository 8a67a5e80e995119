// The Win32 platform layer and the process control on it, against the system's
// own behaviour. Runs as a console program (under wine on the build machine);
// SleepingHelper.exe beside it stands in for the product.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <tlhelp32.h>

#include "Exception.h"
#include "Platform.h"
#include "ProcessControl.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using platform::Path;

namespace {

int failures = 0;

void check(bool ok, const char* what, int line) {
    if (!ok) {
        ++failures;
        std::printf("  line %d: FAILED: %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

std::string narrow(const std::u16string& text) {
    return utf16ToUtf8(text);
}

Path ownDirectory() {
    wchar_t buffer[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return Path(std::wstring(buffer, length)).parent_path();
}

const Path helperExecutable = ownDirectory() / L"SleepingHelper.exe";

// A fresh directory for one test, removed with everything in it afterwards.
class Workspace {
public:
    Workspace() {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        root_ = Path(temp) / (L"vantra-win32-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter));
        std::filesystem::create_directories(root_);
    }
    ~Workspace() {
        std::error_code ignored;
        for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(root_, ignored);
    }
    Path operator/(const wchar_t* name) const { return root_ / name; }

private:
    Path root_;
};

void writeFile(const Path& path, const std::string& content) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string readFile(const Path& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    ::CloseHandle(file);
    return content;
}

bool eventually(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    for (DWORD waited = 0;; waited += 50) {
        if (condition())
            return true;
        if (waited >= timeoutMs)
            return false;
        ::Sleep(50);
    }
}

// A running copy of the helper under a chosen file name; ended on destruction
// if the test has not ended it.
class Product {
public:
    explicit Product(const Path& executable) {
        if (!std::filesystem::exists(executable)) {
            std::filesystem::create_directories(executable.parent_path());
            ::CopyFileW(helperExecutable.c_str(), executable.c_str(), TRUE);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION information{};
        if (::CreateProcessW(executable.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &information)) {
            ::CloseHandle(information.hThread);
            process_ = information.hProcess;
        } else {
            std::printf("  cannot start %s: error %lu\n", executable.string().c_str(),
                        ::GetLastError());
        }
    }
    ~Product() {
        if (!process_)
            return;
        if (running())
            ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
        ::CloseHandle(process_);
    }
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;

    bool started() const { return process_ != nullptr; }
    bool running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    // The exit code once it has ended, or -1 when it is still running after a while.
    long exitCode() const {
        if (!process_ || ::WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return static_cast<long>(code);
    }

private:
    HANDLE process_ = nullptr;
};

platform::ProcessTable& table() {
    return platform::systemProcessTable();
}

bool running(const char16_t* name) {
    return platform::processRunning(table(), name);
}

// --- processes -------------------------------------------------------------

void productFoundInAnyCaseAndEveryInstanceTerminatedWithExitCodeZero() {
    Workspace dir;
    Product first(dir / L"Vantra.exe");
    Product second(dir / L"Vantra.exe");
    Product capitals(dir / L"upper\\VANTRA.EXE");
    Product lower(dir / L"lower\\vantra.exe");
    CHECK(first.started() && second.started() && capitals.started() && lower.started());

    for (const char16_t* asked : {u"Vantra.exe", u"VANTRA.EXE", u"vantra.exe", u"vANTRA.eXE"})
        CHECK(running(asked));

    platform::terminateProcesses(table(), u"Vantra.exe");
    CHECK(first.exitCode() == 0);
    CHECK(second.exitCode() == 0);
    CHECK(capitals.exitCode() == 0);
    CHECK(lower.exitCode() == 0);
    CHECK(eventually([] { return !running(u"Vantra.exe"); }));
}

void namesThatOnlyContainTheProductsAreLeftAlone() {
    Workspace dir;
    const wchar_t* names[] = {L"Vantra_old.exe", L"Vantra", L"Vantra.exe.bak", L"xVantra.exe",
                              L"Vantra.ex"};
    std::vector<std::unique_ptr<Product>> others;
    for (const wchar_t* name : names) {
        others.push_back(std::make_unique<Product>(dir / name));
        Path asked(name);
        // The process really is listed, under its own name.
        CHECK(others.back()->started() && running(asked.u16string().c_str()));
    }

    CHECK(!running(u"Vantra.exe"));
    platform::terminateProcesses(table(), u"Vantra.exe");
    ::Sleep(300);
    for (auto& other : others)
        CHECK(other->running());
}

void walkWithoutMatchesTerminatesNothing() {
    Workspace dir;
    Product bystander(dir / L"Bystander.exe");
    CHECK(!running(u"Vantra.exe"));
    platform::terminateProcesses(table(), u"Vantra.exe");
    ::Sleep(200);
    CHECK(bystander.running());
    CHECK(!running(u"Vantra.exe"));
}

// Why the walk sets dwSize to the record's size and not to 556: in a 64-bit
// program the system refuses the 32-bit size and the walk would always be empty.
void snapshotRefusesTheThirtyTwoBitRecordSize() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    CHECK(snapshot != INVALID_HANDLE_VALUE);
    PROCESSENTRY32W record{};
    record.dwSize = 556;
    CHECK(sizeof(void*) == 4 || !::Process32FirstW(snapshot, &record));
    record.dwSize = sizeof record;
    CHECK(::Process32FirstW(snapshot, &record));
    ::CloseHandle(snapshot);
}

// --- files -----------------------------------------------------------------

void packageFileIsSharedWithNoOne() {
    Workspace dir;
    Path package = dir / L"Vantra.zip";
    writeFile(package, "previous package");
    {
        platform::File file = platform::File::createExclusive(package);
        CHECK(readFile(package) == "<missing>"); // not even readable while open
        file.write("abc", 3);

        HANDLE other = ::CreateFileW(package.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(other == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION);

        std::u16string systemText = platform::systemErrorMessage(ERROR_SHARING_VIOLATION);
        CHECK(!systemText.empty());
        CHECK(systemText.find_first_of(u"\r\n") == std::u16string::npos);
        std::u16string message;
        try {
            platform::File::createExclusive(package);
        } catch (const Exception& e) {
            message = e.message();
        }
        std::printf("  second create: %s\n", narrow(message).c_str());
        CHECK(message == u"Cannot create file \"" + package.u16string() + u"\". " + systemText);

        // The holder itself reads it back (the signature check does).
        file.seek(1);
        char back[8] = {};
        CHECK(file.read(back, sizeof back) == 2 && std::string(back) == "bc");
        CHECK(file.read(back, sizeof back) == 0);
    }
    CHECK(readFile(package) == "abc"); // the failed second create emptied nothing

    platform::File again = platform::File::createExclusive(package);
    again.close();
    CHECK(readFile(package).empty());
}

void packageFileInAMissingDirectoryNamesPathAndReason() {
    Workspace dir;
    Path package = dir / L"missing\\Vantra.zip";
    std::u16string message;
    try {
        platform::File::createExclusive(package);
    } catch (const Exception& e) {
        message = e.message();
    }
    CHECK(message == u"Cannot create file \"" + package.u16string() + u"\". " +
                         platform::systemErrorMessage(ERROR_PATH_NOT_FOUND));
}

void reserveAndTruncateSetTheSizeAndKeepThePosition() {
    Workspace dir;
    Path path = dir / L"Vantra.zip";
    {
        platform::File file = platform::File::createExclusive(path);
        file.write("ab", 2);
        file.reserve(1000);
        CHECK(std::filesystem::file_size(path) == 1000);
        file.write("cd", 2); // right after what was written, not at the end
        file.truncate(4);
        CHECK(std::filesystem::file_size(path) == 4);
        bool refused = false;
        try {
            file.reserve(std::uint64_t(1) << 62);
        } catch (const Exception& e) {
            refused = !e.message().empty();
        }
        CHECK(refused);
        file.seek(0);
        file.write("X", 1);
    }
    CHECK(readFile(path) == "Xbcd");
}

void backupMoveNeverReplaces() {
    Workspace dir;
    writeFile(dir / L"Vantra.exe", "new");
    writeFile(dir / L"Vantra_old.exe", "old");
    CHECK(!platform::moveFile(dir / L"Vantra.exe", dir / L"Vantra_old.exe"));
    CHECK(readFile(dir / L"Vantra.exe") == "new");
    CHECK(readFile(dir / L"Vantra_old.exe") == "old");

    ::DeleteFileW((dir / L"Vantra_old.exe").c_str());
    CHECK(platform::moveFile(dir / L"Vantra.exe", dir / L"Vantra_old.exe"));
    CHECK(!platform::fileExists(dir / L"Vantra.exe"));
    CHECK(readFile(dir / L"Vantra_old.exe") == "new");
    CHECK(!platform::moveFile(dir / L"Vantra.exe", dir / L"Vantra_old.exe")); // nothing to move
}

void stagedFileReplacesTargetUnlessTheSystemRefuses() {
    Workspace dir;
    writeFile(dir / L"data.bin", "old");
    writeFile(dir / L"data.bin.new", "new");
    CHECK(platform::replaceFile(dir / L"data.bin.new", dir / L"data.bin"));
    CHECK(readFile(dir / L"data.bin") == "new");
    CHECK(!platform::fileExists(dir / L"data.bin.new"));

    // Read-only is no refusal: the staged file's attributes replace it.
    writeFile(dir / L"locked.txt", "old");
    ::SetFileAttributesW((dir / L"locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    writeFile(dir / L"staged.ro", "new");
    CHECK(platform::replaceFile(dir / L"staged.ro", dir / L"locked.txt"));
    CHECK(readFile(dir / L"locked.txt") == "new");
    CHECK(!(::GetFileAttributesW((dir / L"locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY));

    writeFile(dir / L"staged", "new");

    std::filesystem::create_directory(dir / L"folder");
    CHECK(!platform::replaceFile(dir / L"staged", dir / L"folder"));
    CHECK(std::filesystem::is_directory(dir / L"folder"));
    CHECK(readFile(dir / L"staged") == "new");

    Product running(dir / L"Vantra.exe");
    CHECK(running.started());
    std::string image = readFile(helperExecutable);
    CHECK(!platform::replaceFile(dir / L"staged", dir / L"Vantra.exe"));
    CHECK(readFile(dir / L"Vantra.exe") == image);
    CHECK(readFile(dir / L"staged") == "new");
    CHECK(running.running());
}

std::u16string moveAsideError(const Path& from, const Path& to) {
    try {
        platform::moveAside(from, to);
    } catch (const Exception& e) {
        return e.message();
    }
    return u"";
}

// The install's own steps: the target aside, the staged file in, the backup
// gone; a read-only target is moved like any other.
void readOnlyTargetIsReplaced() {
    Workspace dir;
    writeFile(dir / L"leitura.dll", "old");
    ::SetFileAttributesW((dir / L"leitura.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    writeFile(dir / L".vz0-0.tmp", "new");
    CHECK(moveAsideError(dir / L"leitura.dll", dir / L".leitura.dll.vzold").empty());
    CHECK(moveAsideError(dir / L".vz0-0.tmp", dir / L"leitura.dll").empty());
    CHECK(readFile(dir / L"leitura.dll") == "new");
    CHECK(platform::discardFile(dir / L".leitura.dll.vzold")); // read-only too
    CHECK(!std::filesystem::exists(dir / L".leitura.dll.vzold"));
    CHECK(platform::discardFile(dir / L".leitura.dll.vzold")); // already gone
}

// A second target held open without delete sharing: refused with the system's
// reason, and the first target's moves undone in reverse.
void heldTargetRefusedAndTheInstallRolledBack() {
    Workspace dir;
    writeFile(dir / L"Vantra.exe", "old exe");
    writeFile(dir / L"dados.db", "old data");
    writeFile(dir / L".vz0-0.tmp", "new exe");
    writeFile(dir / L".vz1-0.tmp", "new data");
    HANDLE held =
        ::CreateFileW((dir / L"dados.db").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);

    CHECK(moveAsideError(dir / L"Vantra.exe", dir / L".Vantra.exe.vzold").empty());
    CHECK(moveAsideError(dir / L".vz0-0.tmp", dir / L"Vantra.exe").empty());
    std::u16string refused = moveAsideError(dir / L"dados.db", dir / L".dados.db.vzold");
    std::printf("  held target: %s\n", narrow(refused).c_str());
    CHECK(refused == platform::systemErrorMessage(ERROR_SHARING_VIOLATION));
    CHECK(moveAsideError(dir / L"Vantra.exe", dir / L".vz0-0.tmp").empty());
    CHECK(moveAsideError(dir / L".Vantra.exe.vzold", dir / L"Vantra.exe").empty());
    ::CloseHandle(held);

    CHECK(readFile(dir / L"Vantra.exe") == "old exe");
    CHECK(readFile(dir / L"dados.db") == "old data");
    CHECK(!std::filesystem::exists(dir / L".Vantra.exe.vzold"));
    CHECK(!std::filesystem::exists(dir / L".dados.db.vzold"));
    CHECK(readFile(dir / L".vz0-0.tmp") == "new exe");

    std::filesystem::create_directory(dir / L"plugins");
    CHECK(moveAsideError(dir / L"plugins", dir / L".plugins.vzold") ==
          platform::systemErrorMessage(ERROR_ACCESS_DENIED));
    CHECK(std::filesystem::is_directory(dir / L"plugins"));
    CHECK(!moveAsideError(dir / L".vz1-0.tmp", dir / L"dados.db").empty()); // taken
}

// Windows lets a running executable be renamed, not deleted: its backup stays
// until it has ended.
void runningExecutableMovedAside() {
    Workspace dir;
    Product running(dir / L"AtualizadorVantra.exe");
    CHECK(running.started());
    const std::string image = readFile(helperExecutable);
    writeFile(dir / L".vz0-0.tmp", "new updater");
    CHECK(moveAsideError(dir / L"AtualizadorVantra.exe", dir / L".AtualizadorVantra.exe.vzold")
              .empty());
    CHECK(moveAsideError(dir / L".vz0-0.tmp", dir / L"AtualizadorVantra.exe").empty());
    CHECK(readFile(dir / L"AtualizadorVantra.exe") == "new updater");
    CHECK(running.running());
    CHECK(!platform::discardFile(dir / L".AtualizadorVantra.exe.vzold"));
    CHECK(readFile(dir / L".AtualizadorVantra.exe.vzold") == image);
}

void journalIsLockedAgainstEveryOtherOpener() {
    Workspace dir;
    const Path journal = dir / L"AtualizadorVantra.journal";
    bool held = true;
    CHECK(!platform::File::openLocked(journal, held) && !held);
    {
        platform::File live = platform::File::createLocked(journal);
        live.write("x\n", 2);
        live.flush();
        CHECK(platform::lockedByAnother(journal));
        CHECK(!platform::File::openLocked(journal, held) && held);
        CHECK(readFile(journal) == "<missing>");
    }
    CHECK(!platform::lockedByAnother(journal));
    std::optional<platform::File> leftover = platform::File::openLocked(journal, held);
    CHECK(leftover && !held);
    if (leftover) {
        CHECK(leftover->readToEnd() == "x\n");
        leftover->deleteAndClose(journal);
    }
    CHECK(!std::filesystem::exists(journal));

    writeFile(dir / L"a", "a");
    platform::flushFiles({(dir / L"a").native()});
    platform::flushDirectories({dir / L""});
}

void newFileMustNotExist() {
    Workspace dir;
    writeFile(dir / L"there", "kept");
    bool refused = false;
    try {
        platform::File::createNew(dir / L"there");
    } catch (const Exception& e) {
        refused = e.message() == platform::systemErrorMessage(ERROR_FILE_EXISTS);
    }
    CHECK(refused);
    CHECK(readFile(dir / L"there") == "kept");

    platform::File fresh = platform::File::createNew(dir / L"fresh");
    fresh.write("x", 1);
    fresh.close();
    CHECK(readFile(dir / L"fresh") == "x");
}

void existenceAndDeletion() {
    Workspace dir;
    writeFile(dir / L"file", "");
    std::filesystem::create_directory(dir / L"folder");
    CHECK(platform::fileExists(dir / L"file"));
    CHECK(!platform::fileExists(dir / L"folder"));
    CHECK(!platform::fileExists(dir / L"missing"));
    // Doubled separators, as the package path carries them.
    CHECK(platform::fileExists(Path((dir / L"").wstring() + L"\\file")));
    CHECK(platform::deleteFile(dir / L"file"));
    CHECK(!platform::fileExists(dir / L"file"));
    CHECK(!platform::deleteFile(dir / L"file"));
}

WORD lastWriteDosDate(const Path& path, WORD* dosTime) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    FILETIME local;
    ::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    WORD date = 0;
    ::FileTimeToDosDateTime(&local, &date, dosTime);
    return date;
}

void timesAndAttributesFromTheArchive() {
    Workspace dir;
    Path file = dir / L"file";
    writeFile(file, "x");
    const WORD date = ((2021 - 1980) << 9) | (6 << 5) | 15; // 2021-06-15
    const WORD time = (13 << 11) | (45 << 5) | 15;          // 13:45:30
    platform::setLastWriteTimeFromDos(file, date, time);
    WORD readTime = 0;
    CHECK(lastWriteDosDate(file, &readTime) == date && readTime == time);

    platform::setLastWriteTimeFromDos(file, date | (13 << 5), time); // month 13: ignored
    CHECK(lastWriteDosDate(file, &readTime) == date && readTime == time);

    struct Case {
        std::uint8_t host;
        std::uint32_t external;
        DWORD expected;
    } cases[] = {
        {0, 0x01 | 0x02, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {0, 0x04 | 0x20, FILE_ATTRIBUTE_SYSTEM},
        {0, 0x00, 0},
        {3, 0100444u << 16, FILE_ATTRIBUTE_READONLY},
        {3, (0100644u << 16) | 0x01, 0},    // the Unix mode decides
        {3, 0x01, FILE_ATTRIBUTE_READONLY}, // no mode: MS-DOS bits
    };
    // Archive is left out: wine reports it on every file whatever was set.
    const DWORD shown = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const Case& c : cases) {
        platform::setAttributesFromZip(file, c.host, c.external);
        DWORD attributes = ::GetFileAttributesW(file.c_str()) & shown;
        if (attributes != c.expected)
            std::printf("  host %u, attributes %08x: got %08lx\n", c.host, c.external, attributes);
        CHECK(attributes == c.expected);
    }
}

// Names that are not UTF-8 follow the system's code pages, not fixed ones.
void nameCodePagesAreTheSystems() {
    platform::NameCodePages pages = platform::nameCodePages();
    std::printf("  OEM %u, ANSI %u\n", pages.oem, pages.ansi);
    CHECK(pages.oem == ::GetOEMCP());
    CHECK(pages.ansi == ::GetACP());
    CHECK(pages.oem != pages.ansi);
}

void shellOpenStartsTheProductWithoutWaiting() {
    Workspace dir;
    Path product = dir / L"Vantra.exe";
    ::CopyFileW(helperExecutable.c_str(), product.c_str(), TRUE);
    DWORD before = ::GetTickCount();
    platform::shellOpen(product);
    CHECK(::GetTickCount() - before < 5000);
    CHECK(eventually([] { return running(u"Vantra.exe"); }));
    platform::terminateProcesses(table(), u"Vantra.exe");
    CHECK(eventually([] { return !running(u"Vantra.exe"); }));
    platform::shellOpen(dir / L"missing.exe"); // ignored
}

// --- text ------------------------------------------------------------------

// The rows of the Linux decoding test, with the same expected texts: the code
// page table must give what iconv gives there.
void charsetsDecodeAsOnLinux() {
    struct Case {
        const char* charset;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"windows-1252", "\x80 caf\xe9", u"\u20ac caf\u00e9"},
        {"Windows-1252", "\x9f", u"\u0178"},
        {"iso-8859-15", "\xa4", u"\u20ac"},
        {"ISO-8859-2", "\xb1", u"\u0105"},
        {"koi8-r", "\xc1", u"\u0430"},
        {"shift_jis", "\x82\xa0", u"\u3042"},
        {"us-ascii", "a=b#", u"a=b#"},
        {"windows-1252", "", u""},
    };
    for (const Case& c : cases) {
        std::optional<std::u16string> text = platform::decodeCharset(c.bytes, c.charset);
        if (!text || *text != c.text)
            std::printf("  %s: got %s\n", c.charset, text ? narrow(*text).c_str() : "nothing");
        CHECK(text && *text == c.text);
    }
    // Unknown names are left to the caller's fallback.
    for (const char* unknown : {"x-no-such-set", "", "windows-1252x", "utf-7x"})
        CHECK(!platform::decodeCharset("abc", unknown));
    // An invalid sequence does not lose the text around it.
    std::optional<std::u16string> broken = platform::decodeCharset("a\x81 z", "shift_jis");
    CHECK(broken && broken->size() >= 2 && broken->front() == u'a' && broken->back() == u'z');
}

} // namespace

int main() {
    if (!std::filesystem::exists(helperExecutable)) {
        std::printf("SleepingHelper.exe is missing beside the test program\n");
        return 2;
    }
    struct Test {
        const char* name;
        void (*run)();
    } tests[] = {
        {"productFoundInAnyCaseAndEveryInstanceTerminatedWithExitCodeZero",
         productFoundInAnyCaseAndEveryInstanceTerminatedWithExitCodeZero},
        {"namesThatOnlyContainTheProductsAreLeftAlone",
         namesThatOnlyContainTheProductsAreLeftAlone},
        {"walkWithoutMatchesTerminatesNothing", walkWithoutMatchesTerminatesNothing},
        {"snapshotRefusesTheThirtyTwoBitRecordSize", snapshotRefusesTheThirtyTwoBitRecordSize},
        {"packageFileIsSharedWithNoOne", packageFileIsSharedWithNoOne},
        {"packageFileInAMissingDirectoryNamesPathAndReason",
         packageFileInAMissingDirectoryNamesPathAndReason},
        {"reserveAndTruncateSetTheSizeAndKeepThePosition",
         reserveAndTruncateSetTheSizeAndKeepThePosition},
        {"backupMoveNeverReplaces", backupMoveNeverReplaces},
        {"stagedFileReplacesTargetUnlessTheSystemRefuses",
         stagedFileReplacesTargetUnlessTheSystemRefuses},
        {"readOnlyTargetIsReplaced", readOnlyTargetIsReplaced},
        {"heldTargetRefusedAndTheInstallRolledBack", heldTargetRefusedAndTheInstallRolledBack},
        {"runningExecutableMovedAside", runningExecutableMovedAside},
        {"journalIsLockedAgainstEveryOtherOpener", journalIsLockedAgainstEveryOtherOpener},
        {"newFileMustNotExist", newFileMustNotExist},
        {"existenceAndDeletion", existenceAndDeletion},
        {"timesAndAttributesFromTheArchive", timesAndAttributesFromTheArchive},
        {"nameCodePagesAreTheSystems", nameCodePagesAreTheSystems},
        {"shellOpenStartsTheProductWithoutWaiting", shellOpenStartsTheProductWithoutWaiting},
        {"charsetsDecodeAsOnLinux", charsetsDecodeAsOnLinux},
    };
    for (const Test& test : tests) {
        int before = failures;
        std::printf("%s\n", test.name);
        std::fflush(stdout);
        try {
            test.run();
        } catch (const std::exception& e) {
            ++failures;
            std::printf("  FAILED: unexpected error: %s\n", e.what());
        }
        std::printf("  %s\n", failures == before ? "ok" : "FAILED");
        std::fflush(stdout);
    }
    std::printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
