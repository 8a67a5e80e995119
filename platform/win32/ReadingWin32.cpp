#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "../Exception.h"
#include "../Platform.h"

namespace platform {

std::FILE* openForReading(const Path& path) {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    std::FILE* file = nullptr;
    if (handle != INVALID_HANDLE_VALUE) {
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
        if (fd < 0) {
            error = ERROR_TOO_MANY_OPEN_FILES;
            ::CloseHandle(handle);
        } else if (!(file = ::_fdopen(fd, "rb"))) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            ::_close(fd); // closes the handle too
        }
    }
    if (!file)
        throw Exception(u"Cannot open file \"" + path.u16string() + u"\". " +
                        systemErrorMessage(static_cast<int>(error)));
    return file;
}

bool seekTo(std::FILE* file, std::uint64_t offset) {
    return ::_fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::u16string_view pathSeparators() {
    return u"\\/:";
}

} // namespace platform
