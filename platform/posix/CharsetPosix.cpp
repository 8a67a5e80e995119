#include "../Platform.h"

#include <cerrno>
#include <iconv.h>
#include <string>

namespace platform {

std::optional<std::u16string> decodeCharset(std::string_view bytes, std::string_view charset) {
    iconv_t cd = ::iconv_open("UTF-16LE", std::string(charset).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::u16string text;
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char16_t buf[4096];
    while (inLeft > 0) {
        char* out = reinterpret_cast<char*>(buf);
        size_t outLeft = sizeof buf;
        size_t rc = ::iconv(cd, &in, &inLeft, &out, &outLeft);
        text.append(buf, (sizeof buf - outLeft) / sizeof(char16_t));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            text.push_back(u'\uFFFD');
            if (errno == EINVAL) // incomplete sequence at the end
                break;
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(cd);
    return text;
}

} // namespace platform
