#include "EntryNameDecoding.h"

#include "CodePageTables.h"

#include <QStringDecoder>

QString decodeEntryName(const QByteArray& stored, bool utf8Flag, bool msDosHost,
                        const platform::NameCodePages& codePages) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8(stored);
    if (utf8Flag || !utf8.hasError())
        return name;

    const char16_t* upper = codePageUpperHalf(msDosHost ? codePages.oem : codePages.ansi);
    if (!upper)
        upper = codePageUpperHalf(msDosHost ? 437 : 1252);
    name.clear();
    name.reserve(stored.size());
    for (char c : stored) {
        auto byte = static_cast<unsigned char>(c);
        name.append(byte < 0x80 ? QChar(byte) : QChar(upper[byte - 0x80]));
    }
    return name;
}
