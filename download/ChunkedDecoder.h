#pragma once

// Takes the data out of a chunked body, fed in arbitrary pieces. The framing
// is checked by libcurl, which also finds the body's end; this only strips it.

#include <cstddef>
#include <cstdint>
#include <functional>

class ChunkedDecoder {
public:
    using Sink = std::function<void(const char* data, std::size_t size)>;

    void feed(const char* raw, std::size_t size, const Sink& sink);
    bool finished() const { return state_ == State::Done; }

private:
    enum class State { SizeLine, SizeLineRest, Data, DataEnd, TrailerLineStart, TrailerLine, Done };
    State state_ = State::SizeLine;
    std::uint64_t remaining_ = 0;
};
