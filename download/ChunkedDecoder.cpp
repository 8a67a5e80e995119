#include "ChunkedDecoder.h"

#include <algorithm>

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

void ChunkedDecoder::feed(const char* raw, std::size_t size, const Sink& sink) {
    const char* end = raw + size;
    while (raw < end) {
        switch (state_) {
        case State::SizeLine: {
            char c = *raw++;
            int digit = hexValue(c);
            if (digit >= 0)
                remaining_ = remaining_ * 16 + static_cast<std::uint64_t>(digit);
            else if (c == '\n')
                state_ = remaining_ ? State::Data : State::TrailerLineStart;
            else
                state_ = State::SizeLineRest; // chunk extensions, CR
            break;
        }
        case State::SizeLineRest:
            if (*raw++ == '\n')
                state_ = remaining_ ? State::Data : State::TrailerLineStart;
            break;
        case State::Data: {
            auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(end - raw)));
            sink(raw, n);
            raw += n;
            remaining_ -= n;
            if (remaining_ == 0)
                state_ = State::DataEnd;
            break;
        }
        case State::DataEnd:
            if (*raw++ == '\n')
                state_ = State::SizeLine;
            break;
        case State::TrailerLineStart: {
            char c = *raw++;
            if (c == '\n')
                state_ = State::Done;
            else if (c != '\r')
                state_ = State::TrailerLine;
            break;
        }
        case State::TrailerLine:
            if (*raw++ == '\n')
                state_ = State::TrailerLineStart;
            break;
        case State::Done:
            return;
        }
    }
}
