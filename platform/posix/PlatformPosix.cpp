#include "../Exception.h"
#include "../Platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

bool allDigits(const char* s) {
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

// The name is the kernel's command name, the field /proc/PID/comm shows, read
// from /proc/PID/stat together with the state so that a zombie (ended, not yet
// reaped by its parent) is not taken for a running process.
bool readProcessName(const char* pid, std::string& name) {
    std::string path = std::string("/proc/") + pid + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false; // ended since the directory was listed
    char buf[512];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return false;
    std::string_view text(buf, static_cast<size_t>(n));
    // "pid (comm) S ...": comm may itself hold ')' and spaces.
    auto first = text.find('(');
    auto last = text.rfind(')');
    if (first == std::string_view::npos || last == std::string_view::npos || last < first ||
        last + 2 >= text.size())
        return false;
    char state = text[last + 2];
    if (state == 'Z' || state == 'X')
        return false;
    name.assign(text.substr(first + 1, last - first - 1));
    return true;
}

class ProcTable final : public ProcessTable {
public:
    void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) override {
        DIR* dir = opendir("/proc");
        if (!dir)
            return;
        while (dirent* d = readdir(dir)) {
            if (!allDigits(d->d_name))
                continue;
            std::string name;
            if (!readProcessName(d->d_name, name))
                continue;
            ProcessEntry entry;
            entry.processId = static_cast<std::uint32_t>(std::strtoul(d->d_name, nullptr, 10));
            entry.exeFile = utf8ToUtf16(name);
            visit(entry);
        }
        closedir(dir);
    }

    void terminate(std::uint32_t processId) override {
        ::kill(static_cast<pid_t>(processId), SIGKILL); // EPERM and ESRCH: skipped
    }
};

[[noreturn]] void throwErrno(int code) {
    throw Exception(systemErrorMessage(code));
}

} // namespace

ProcessTable& systemProcessTable() {
    static ProcTable table;
    return table;
}

bool moveFile(const Path& from, const Path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without no-replace renames: a hard link cannot replace
    // either, and the old name goes only once the new one exists.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool replaceFile(const Path& staged, const Path& target) {
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return false;
    return ::rename(staged.c_str(), target.c_str()) == 0;
}

void moveAside(const Path& from, const Path& to) {
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        throwErrno(errno);
    // rename() would move a directory too, and the update would lose it.
    if (S_ISDIR(st.st_mode))
        throwErrno(EISDIR);
    if (!moveFile(from, to))
        throwErrno(errno);
}

bool discardFile(const Path& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

void flushFiles(const std::vector<Path::string_type>& files) {
    // One syncfs per file system costs about what one fdatasync does, where
    // a few thousand of them would each wait for the disk.
    std::vector<dev_t> flushed;
    for (const Path::string_type& path : files) {
        // Only a file system not flushed yet costs an open.
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            throwErrno(errno);
        if (S_ISLNK(st.st_mode))
            throwErrno(ELOOP); // never a staged file of ours
        if (std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end())
            continue;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            throwErrno(errno);
        int rc = ::syncfs(fd);
        int code = errno;
        ::close(fd);
        if (rc != 0)
            throwErrno(code);
        flushed.push_back(st.st_dev);
    }
}

void flushDirectories(const std::vector<Path>& directories) {
    for (const Path& path : directories) {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throwErrno(errno);
        int rc = ::fsync(fd);
        int code = errno;
        ::close(fd);
        if (rc != 0 && code != EINVAL) // a file system that cannot sync a directory
            throwErrno(code);
    }
}

bool lockedByAnother(const Path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool fileExists(const Path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool deleteFile(const Path& path) {
    return ::unlink(path.c_str()) == 0;
}

namespace {

// The fields an MS-DOS date and time can hold but no calendar has are refused,
// as the system's own conversion refuses them, instead of being rolled over.
bool validDosDateTime(int year, int month, int day, int hour, int minute, int second) {
    static const int daysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= daysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

} // namespace

void setLastWriteTimeFromDos(const Path& path, std::uint16_t dosDate, std::uint16_t dosTime) {
    if (!validDosDateTime(((dosDate >> 9) & 0x7F) + 1980, (dosDate >> 5) & 0x0F, dosDate & 0x1F,
                          (dosTime >> 11) & 0x1F, (dosTime >> 5) & 0x3F, (dosTime & 0x1F) * 2))
        return;
    std::tm tm{};
    tm.tm_year = ((dosDate >> 9) & 0x7F) + 80;
    tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    tm.tm_mday = dosDate & 0x1F;
    tm.tm_hour = (dosTime >> 11) & 0x1F;
    tm.tm_min = (dosTime >> 5) & 0x3F;
    tm.tm_sec = (dosTime & 0x1F) * 2;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void setAttributesFromZip(const Path& path, std::uint8_t hostSystem,
                          std::uint32_t externalAttributes) {
    constexpr std::uint8_t unixHost = 3;
    // Permission bits only: set-user-ID and set-group-ID from a downloaded
    // archive would hand its files the rights of whoever unpacks them. Nor may
    // a package leave product files that others can write, or that the owner
    // cannot read or replace: a later update would keep them for good.
    constexpr mode_t dropped = S_IWGRP | S_IWOTH;
    constexpr mode_t kept = S_IRUSR | S_IWUSR;
    mode_t mode;
    if (hostSystem == unixHost && (externalAttributes >> 16) != 0) {
        mode = (externalAttributes >> 16) & 0777;
    } else {
        // MS-DOS attributes: read-only, the only one with a meaning here,
        // yields to the owner's rights.
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return;
        mode = st.st_mode & 0777;
    }
    ::chmod(path.c_str(), (mode & ~dropped) | kept);
}

void setStagedAttributesFromZip(const Path& path, std::uint8_t hostSystem,
                                std::uint32_t externalAttributes) {
    setAttributesFromZip(path, hostSystem, externalAttributes);
}

namespace {

// The OEM and ANSI code pages Windows gives a system of that language (and
// territory, where it differs), for the single-byte pages names are decoded in.
struct LocaleCodePages {
    const char* locale; // "ll" or "ll_TT"
    NameCodePages pages;
};
constexpr LocaleCodePages localeCodePages[] = {
    {"en_US", {437, 1252}}, {"en", {850, 1252}}, {"pt", {850, 1252}},  {"es", {850, 1252}},
    {"fr", {850, 1252}},    {"de", {850, 1252}}, {"it", {850, 1252}},  {"nl", {850, 1252}},
    {"ca", {850, 1252}},    {"da", {850, 1252}}, {"sv", {850, 1252}},  {"nb", {850, 1252}},
    {"no", {850, 1252}},    {"fi", {850, 1252}}, {"is", {850, 1252}},  {"pl", {852, 1250}},
    {"cs", {852, 1250}},    {"sk", {852, 1250}}, {"hu", {852, 1250}},  {"sl", {852, 1250}},
    {"hr", {852, 1250}},    {"ro", {852, 1250}}, {"sq", {852, 1250}},  {"ru", {866, 1251}},
    {"uk", {866, 1251}},    {"be", {866, 1251}}, {"bg", {866, 1251}},  {"el", {737, 1253}},
    {"tr", {857, 1254}},    {"he", {862, 1255}}, {"ar", {720, 1256}},  {"lt", {775, 1257}},
    {"lv", {775, 1257}},    {"et", {775, 1257}}, {"vi", {1258, 1258}},
};

} // namespace

NameCodePages nameCodePages() {
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        locale = std::getenv(variable);
        if (locale && *locale)
            break;
    }
    if (!locale)
        return {};
    // language[_territory][.codeset][@modifier]
    std::string name(locale, std::strcspn(locale, ".@"));
    std::string language = name.substr(0, name.find('_'));
    for (const std::string& key : {name, language})
        for (const LocaleCodePages& entry : localeCodePages)
            if (key == entry.locale)
                return entry.pages;
    return {}; // C, POSIX, or a language without a single-byte page here
}

std::u16string systemErrorMessage(int code) {
    char buf[256];
    const char* text = ::strerror_r(code, buf, sizeof buf);
    return utf8ToUtf16(text);
}

File File::createExclusive(const Path& path) {
    auto fail = [&](int code) -> File {
        throw Exception(u"Cannot create file \"" + path.u16string() + u"\". " +
                        systemErrorMessage(code));
    };
    // Lock before emptying, so that a file another holder has open keeps its content.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(errno);
    auto failClosing = [&](int code) -> File {
        ::close(fd);
        return fail(code);
    };
    // A read-only file is not emptied, not even by root, who open() lets through.
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return failClosing(errno);
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        return failClosing(EACCES);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0)
        return failClosing(errno);
    File file;
    file.fd_ = fd;
    return file;
}

File File::createNew(const Path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        throwErrno(errno);
    File file;
    file.fd_ = fd;
    return file;
}

namespace {

// The lock is taken after the open, so the name may have been deleted (by a
// recovery that found the file unlocked) or replaced in between.
bool stillNamed(int fd, const Path& path) {
    struct stat held, named;
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

File File::createLocked(const Path& path) {
    for (;;) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            throwErrno(errno);
        if (::flock(fd, LOCK_EX) != 0) {
            int code = errno;
            ::close(fd);
            throwErrno(code);
        }
        if (stillNamed(fd, path)) {
            File file;
            file.fd_ = fd;
            return file;
        }
        ::close(fd);
    }
}

std::optional<File> File::openLocked(const Path& path, bool& held) {
    held = false;
    for (;;) {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            if (errno == ENOENT)
                return std::nullopt;
            throwErrno(errno);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) {
                held = true;
                return std::nullopt;
            }
            throwErrno(code);
        }
        if (stillNamed(fd, path)) {
            File file;
            file.fd_ = fd;
            return file;
        }
        ::close(fd);
    }
}

std::string File::readToEnd() {
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        if (n == 0)
            return content;
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

void File::flush() {
    if (::fdatasync(fd_) != 0)
        throwErrno(errno);
}

void File::startWriteback() {
    // Only a hint: a failure here shows, if at all, at the flush.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void File::deleteAndClose(const Path& path) {
    // Deleted while still locked: nobody can take the name for a leftover.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        int code = errno;
        close();
        throwErrno(code);
    }
    close();
}

File::File(File&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0)
        ::close(fd_);
}

void File::write(const void* data, std::size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::size_t File::read(void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd_, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

void File::reserve(std::uint64_t size) {
    int rc = size == 0 ? 0 : ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL)
        throwErrno(rc);
    // fallocate never shrinks; the size asked for is the size the file gets.
    truncate(size);
}

void File::truncate(std::uint64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        throwErrno(errno);
}

void File::seek(std::uint64_t position) {
    if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0)
        throwErrno(errno);
}

void File::close() {
    if (fd_ < 0)
        return;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno(errno);
}

bool File::isOpen() const {
    return fd_ >= 0;
}

void sleepMilliseconds(unsigned milliseconds) {
    struct timespec rest {
        static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
    };
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

void shellOpen(const Path& file, void* /*ownerWindow*/) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return; // nothing to open, and no opener's error dialog for it
    bool executable = S_ISREG(st.st_mode) && (st.st_mode & 0111);
    // Built before fork: the child may only make async-signal-safe calls.
    std::string target = file.string();
    const char* opener = "xdg-open";
    char* execArgs[] = {const_cast<char*>(target.c_str()), nullptr};
    char* openArgs[] = {const_cast<char*>(opener), const_cast<char*>(target.c_str()), nullptr};

    pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        // The intermediate child exits at once, so the product is nobody's to wait for.
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::close_range(3, ~0U, 0);
            // The launched program starts with no signal blocked or ignored by us.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction dflt {};
            dflt.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &dflt, nullptr);
            if (executable)
                ::execv(target.c_str(), execArgs);
            else
                ::execvp(opener, openArgs);
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace platform
