#include "EntryNames.h"

namespace {

bool onlyDotsAndSpaces(const QString& segment) {
    for (QChar c : segment)
        if (c != u'.' && c != u' ')
            return false;
    return true;
}

// What Windows makes of a name's end: trailing dots and spaces are dropped.
QString trimmedAsWindowsDoes(const QString& segment) {
    qsizetype end = segment.size();
    while (end > 0 && (segment[end - 1] == u'.' || segment[end - 1] == u' '))
        --end;
    return segment.left(end);
}

} // namespace

bool isWindowsDeviceName(const QString& segment) {
    // The device is named by what comes before the first dot, spaces before
    // that dot not counting: "con", "NUL.txt", "aux .log", "COM1.tar.gz".
    QString base = trimmedAsWindowsDoes(segment.section(u'.', 0, 0)).toUpper();
    static const QStringList plain = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (plain.contains(base))
        return true;
    // Windows also takes the superscript digits for ports.
    static const QString digits = QStringLiteral("123456789\u00B9\u00B2\u00B3");
    return base.size() == 4 && (base.startsWith(u"COM") || base.startsWith(u"LPT")) &&
           digits.contains(base[3]);
}

bool namesThePackage(const QString& name, const QString& packageName) {
    const QStringList segments = nameSegments(name);
    return segments.size() == 1 &&
           trimmedAsWindowsDoes(segments[0]).compare(packageName, Qt::CaseInsensitive) == 0;
}

QStringList nameSegments(const QString& name) {
    QStringList segments;
    // Plain characters, not a pattern: a name is split several times per entry.
    QString separated = name;
    separated.replace(u'\\', u'/');
    for (const QString& segment : separated.split(u'/')) {
        if (!segment.isEmpty() && segment != u".")
            segments.push_back(segment);
    }
    return segments;
}

bool isSafeEntryName(const QString& name, bool directory) {
    if (name.startsWith(u'/') || name.startsWith(u'\\') || name.contains(u':'))
        return false;
    const QStringList segments = nameSegments(name);
    for (const QString& segment : segments)
        if (onlyDotsAndSpaces(segment) // "..", and what Windows trims down to it
            || isWindowsDeviceName(segment))
            return false;
    return directory || !segments.isEmpty();
}

platform::Path targetPath(const platform::Path& base, const QString& name) {
    platform::Path target = base;
    for (const QString& segment : nameSegments(name))
        target /= platform::Path(segment.toStdU16String());
    return target;
}
