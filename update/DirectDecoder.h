#pragma once

#include "EntryDecoder.h"
#include "ZipPackage.h"

#include <cstdio>
#include <memory>

// Stored and deflated entries read straight from the package file: the
// compressed bytes land in our buffer, zlib inflates them into our output, and
// the CRC-32 is computed once, on that output. The library's layers would copy
// each byte several times in small blocks.
class DirectDecoder {
public:
    DirectDecoder();
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;

    static bool handles(const ZipEntry& entry);
    // The input and output buffers it holds.
    static std::size_t bufferBytes();

    // As decodeEntry(), with the library's messages: `package` is a handle of
    // this worker's own.
    void decode(std::FILE* package, const ZipEntry& entry, const ByteSink& sink);

private:
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
    std::unique_ptr<unsigned char[]> input_;
    std::unique_ptr<char[]> output_;
};
