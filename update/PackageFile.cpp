#include "PackageFile.h"

#include "Exception.h"

#include <cerrno>

#ifdef _WIN32
#include <share.h>
#include <windows.h>
#endif

PackageFilePtr openPackageFile(const platform::Path& path, std::size_t buffer) {
#ifdef _WIN32
    PackageFilePtr file(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
    int code = file ? 0 : static_cast<int>(GetLastError());
#else
    PackageFilePtr file(std::fopen(path.c_str(), "rb"));
    int code = file ? 0 : errno;
#endif
    if (!file)
        throw Exception(u"Cannot open file \"" + path.u16string() + u"\". " +
                        platform::systemErrorMessage(code));
    if (buffer > 0)
        std::setvbuf(file.get(), nullptr, _IOFBF, buffer);
    return file;
}

bool seekPackage(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool readPackageAt(std::FILE* file, std::uint64_t offset, void* data, std::size_t size) {
    return seekPackage(file, offset) && std::fread(data, 1, size, file) == size;
}
