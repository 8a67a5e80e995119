// The settings lookup on arbitrary documents and keys: the value found is
// always a piece of the document and never holds the "#" that ends it.

#include "SettingsLookup.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    // The key up to the first line feed, the document after it.
    std::string_view input(reinterpret_cast<const char*>(bytes), size);
    auto newline = input.find('\n');
    if (newline == std::string_view::npos)
        return 0;
    const QString key = QString::fromUtf8(input.data(), static_cast<qsizetype>(newline));
    const QString text =
        QString::fromUtf8(input.data() + newline + 1, static_cast<qsizetype>(size - newline - 1));
    const QString value = valorDaChave(text, key);
    if (!text.contains(value) || value.contains(u'#'))
        std::abort();
    return 0;
}
