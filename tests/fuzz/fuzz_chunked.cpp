// The chunked decoder fed arbitrary bytes: the data it passes on may not
// depend on how the bytes were split, and is never more than what came in.

#include "ChunkedDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string decode(const char* data, std::size_t size, std::size_t piece) {
    ChunkedDecoder decoder;
    std::string out;
    auto sink = [&](const char* p, std::size_t n) { out.append(p, n); };
    for (std::size_t at = 0; at < size; at += piece)
        decoder.feed(data + at, std::min(piece, size - at), sink);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the split; the rest is the body.
    std::size_t piece = 1 + bytes[0] % 17;
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    --size;
    const std::string whole = decode(data, size, size ? size : 1);
    if (whole.size() > size || decode(data, size, piece) != whole)
        std::abort();
    return 0;
}
