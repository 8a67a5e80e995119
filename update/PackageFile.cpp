#include "PackageFile.h"

PackageFilePtr openPackageFile(const platform::Path& path, std::size_t buffer) {
    PackageFilePtr file(platform::openForReading(path));
    if (buffer > 0)
        std::setvbuf(file.get(), nullptr, _IOFBF, buffer);
    return file;
}

bool seekPackage(std::FILE* file, std::uint64_t offset) {
    return platform::seekTo(file, offset);
}

bool readPackageAt(std::FILE* file, std::uint64_t offset, void* data, std::size_t size) {
    return seekPackage(file, offset) && std::fread(data, 1, size, file) == size;
}
