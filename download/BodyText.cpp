#include "BodyText.h"

#include <QStringDecoder>
#include <QStringList>

#ifndef _WIN32
#include <cerrno>
#include <iconv.h>
#include <optional>
#endif

namespace {

#ifndef _WIN32
// Character sets beyond the few Qt converts itself (windows-1252, ISO-8859-15, ...).
std::optional<QString> decodeWithIconv(const QByteArray& body, const QByteArray& charset) {
    iconv_t cd = iconv_open("UTF-16LE", charset.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    QString text;
    char* in = const_cast<char*>(body.constData());
    size_t inLeft = static_cast<size_t>(body.size());
    char16_t buf[4096];
    while (inLeft > 0) {
        char* out = reinterpret_cast<char*>(buf);
        size_t outLeft = sizeof buf;
        size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        text.append(reinterpret_cast<const QChar*>(buf),
                    static_cast<qsizetype>((sizeof buf - outLeft) / sizeof(char16_t)));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            text.append(QChar(QChar::ReplacementCharacter));
            if (errno == EINVAL) // incomplete sequence at the end
                break;
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return text;
}
#endif

} // namespace

QString charsetOf(const QString& contentType) {
    const auto parts = contentType.split(u';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString param = parts[i].trimmed();
        qsizetype eq = param.indexOf(u'=');
        if (eq < 0 || param.left(eq).trimmed().compare(u"charset", Qt::CaseInsensitive) != 0)
            continue;
        QString value = param.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

QString decodeBody(const QByteArray& body, const QString& contentType) {
    // A text type without a charset means ISO-8859-1, and so does everything else unknown.
    QByteArray charset = charsetOf(contentType).toLatin1();
    if (!charset.isEmpty()) {
        // A byte order mark stays in the text, as the body sent it.
        QStringDecoder decoder(charset.constData(), QStringConverter::Flag::ConvertInitialBom);
        if (decoder.isValid())
            return decoder.decode(body);
#ifndef _WIN32
        if (auto text = decodeWithIconv(body, charset))
            return *text;
#endif
    }
    return QString::fromLatin1(body);
}
