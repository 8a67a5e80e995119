#pragma once

#include "ZipPackage.h"

#include <cstddef>
#include <functional>
#include <vector>

// Receives an entry's decoded bytes in order.
using ByteSink = std::function<void(const char* data, std::size_t size)>;

// The methods this updater can decode: stored, deflated and bzip2 through the
// ZIP library; LZMA, xz and zstd from the raw data with their own libraries.
bool methodSupported(std::uint16_t method);

// Decodes the whole entry into `sink`, checking its size and CRC-32 against
// the central directory. Throws "<reason> in entry <name>". `buffer` is reused
// between entries.
void decodeEntry(zip* archive, const ZipEntry& entry, const ByteSink& sink,
                 std::vector<char>& buffer);
