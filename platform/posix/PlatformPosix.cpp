#include "../Exception.h"
#include "../Platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
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

class ProcTable final : public ProcessTable {
public:
    void forEachProcess(const std::function<void(const ProcessEntry&)>& visit) override {
        DIR* dir = opendir("/proc");
        if (!dir)
            return;
        while (dirent* d = readdir(dir)) {
            if (!allDigits(d->d_name))
                continue;
            std::string path = std::string("/proc/") + d->d_name + "/comm";
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue; // ended since the directory was listed
            char buf[64];
            ssize_t n = read(fd, buf, sizeof buf);
            ::close(fd);
            if (n <= 0)
                continue;
            std::string name(buf, static_cast<size_t>(n));
            if (!name.empty() && name.back() == '\n')
                name.pop_back();
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

[[noreturn]] void throwErrno(int code) { throw Exception(systemErrorMessage(code)); }

} // namespace

ProcessTable& systemProcessTable() {
    static ProcTable table;
    return table;
}

bool moveFile(const Path& from, const Path& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool replaceFile(const Path& staged, const Path& target) {
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return false;
        // rename() would replace a read-only file too; the product's own write
        // bit says whether it may be replaced (access() is always true for root).
        if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            return false;
    }
    return ::rename(staged.c_str(), target.c_str()) == 0;
}

bool fileExists(const Path& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool deleteFile(const Path& path) { return ::unlink(path.c_str()) == 0; }

void setLastWriteTimeFromDos(const Path& path, std::uint16_t dosDate, std::uint16_t dosTime) {
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

void setAttributesFromZip(const Path& path, std::uint8_t hostSystem, std::uint32_t externalAttributes) {
    constexpr std::uint8_t unixHost = 3;
    mode_t mode = (externalAttributes >> 16) & 07777;
    if (hostSystem != unixHost || (externalAttributes >> 16) == 0)
        mode = (externalAttributes & 0x01) ? 0444 : 0644; // MS-DOS read-only bit
    ::chmod(path.c_str(), mode);
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
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        int code = errno;
        ::close(fd);
        return fail(code);
    }
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

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

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

void File::reserve(std::uint64_t size) {
    int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    if (rc == EOPNOTSUPP || rc == EINVAL)
        rc = ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno;
    if (rc != 0)
        throwErrno(rc);
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

bool File::isOpen() const { return fd_ >= 0; }

void sleepMilliseconds(unsigned milliseconds) {
    struct timespec rest{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

void shellOpen(const Path& file, void* /*ownerWindow*/) {
    struct stat st;
    bool executable = ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
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
