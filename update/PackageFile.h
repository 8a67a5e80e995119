#pragma once

#include "Platform.h"

#include <cstdint>
#include <cstdio>
#include <memory>

struct PackageFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using PackageFilePtr = std::unique_ptr<std::FILE, PackageFileCloser>;

// The package opened for reading, shared for reading and writing by others as
// the download left it, with a stdio buffer of `buffer` bytes (0: the
// default). Throws "Cannot open file "<path>". <system message>".
PackageFilePtr openPackageFile(const platform::Path& path, std::size_t buffer);

bool seekPackage(std::FILE* file, std::uint64_t offset);

// Reads exactly `size` bytes at `offset`; false when the file has fewer.
bool readPackageAt(std::FILE* file, std::uint64_t offset, void* data, std::size_t size);
