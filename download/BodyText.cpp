#include "BodyText.h"

#include <QStringDecoder>
#include <QStringList>

#include "Platform.h"

#include <string_view>

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
        // Character sets beyond the few Qt converts itself (windows-1252, ISO-8859-15, ...).
        if (auto text = platform::decodeCharset(
                std::string_view(body.constData(), static_cast<std::size_t>(body.size())),
                std::string_view(charset.constData(), static_cast<std::size_t>(charset.size()))))
            return QString::fromStdU16String(*text);
    }
    return QString::fromLatin1(body);
}
