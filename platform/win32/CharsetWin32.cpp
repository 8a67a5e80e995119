#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "../Platform.h"

#include <algorithm>
#include <climits>

namespace platform {

namespace {

struct CodePageName {
    const char* name;
    UINT codePage;
};

// The character set names a server may send (the registry's names and their
// common aliases) and the Windows code pages that hold the same characters.
// Qt itself decodes the Unicode forms and ISO-8859-1 before these are asked.
constexpr CodePageName codePages[] = {
    {"windows-1250", 1250}, {"cp1250", 1250},       {"windows-1251", 1251}, {"cp1251", 1251},
    {"windows-1252", 1252}, {"cp1252", 1252},       {"windows-1253", 1253}, {"cp1253", 1253},
    {"windows-1254", 1254}, {"cp1254", 1254},       {"windows-1255", 1255}, {"cp1255", 1255},
    {"windows-1256", 1256}, {"cp1256", 1256},       {"windows-1257", 1257}, {"cp1257", 1257},
    {"windows-1258", 1258}, {"cp1258", 1258},       {"us-ascii", 20127},    {"ascii", 20127},
    {"iso-8859-1", 28591},  {"latin1", 28591},      {"iso-8859-2", 28592},  {"latin2", 28592},
    {"iso-8859-3", 28593},  {"iso-8859-4", 28594},  {"iso-8859-5", 28595},  {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},  {"iso-8859-8", 28598},  {"iso-8859-9", 28599},  {"latin5", 28599},
    {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"latin-9", 28605},     {"latin9", 28605},
    {"ibm437", 437},        {"cp437", 437},         {"ibm850", 850},        {"cp850", 850},
    {"ibm852", 852},        {"cp852", 852},         {"ibm866", 866},        {"cp866", 866},
    {"koi8-r", 20866},      {"koi8-u", 21866},      {"shift_jis", 932},     {"windows-31j", 932},
    {"euc-jp", 20932},      {"gbk", 936},           {"gb2312", 936},        {"euc-kr", 949},
    {"big5", 950},          {"utf-7", 65000},
};

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

int convert(UINT codePage, DWORD flags, std::string_view bytes, wchar_t* out, int outSize) {
    return ::MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out,
                                 outSize);
}

} // namespace

std::optional<std::u16string> decodeCharset(std::string_view bytes, std::string_view charset) {
    UINT codePage = 0;
    for (const auto& entry : codePages)
        if (sameName(entry.name, charset))
            codePage = entry.codePage;
    if (codePage == 0 || !::IsValidCodePage(codePage))
        return std::nullopt;
    if (bytes.empty())
        return std::u16string();
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    // Strict first; a text with an invalid sequence is decoded again leniently,
    // each such sequence becoming the code page's default character. UTF-7
    // refuses the strict flag.
    DWORD flags = codePage == 65000 ? 0 : MB_ERR_INVALID_CHARS;
    int length = convert(codePage, flags, bytes, nullptr, 0);
    if (length == 0 && flags != 0) {
        flags = 0;
        length = convert(codePage, flags, bytes, nullptr, 0);
    }
    if (length <= 0)
        return std::nullopt;
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    length = convert(codePage, flags, bytes, reinterpret_cast<wchar_t*>(text.data()), length);
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    return text;
}

} // namespace platform
