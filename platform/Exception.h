#pragma once

#include <exception>
#include <string>
#include <string_view>

// The updater's one error class: a message and nothing else. Layers that wrap
// an error build a new one from its message; the caught error is not kept.
class Exception : public std::exception {
public:
    explicit Exception(std::u16string message);

    const std::u16string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
};

// The message of any caught error, as a wrapping layer reads it.
std::u16string messageOf(const std::exception& error);

// sentence, CRLF twice, then the caught error's message.
Exception wrapped(std::u16string_view sentence, const std::exception& caught);

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
