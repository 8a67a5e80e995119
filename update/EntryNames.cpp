#include "EntryNames.h"

namespace {

bool onlyDotsAndSpaces(const QString& segment) {
    for (QChar c : segment)
        if (c != u'.' && c != u' ')
            return false;
    return true;
}

} // namespace

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
        if (onlyDotsAndSpaces(segment)) // "..", and what Windows trims down to it
            return false;
    return directory || !segments.isEmpty();
}

platform::Path targetPath(const platform::Path& base, const QString& name) {
    platform::Path target = base;
    for (const QString& segment : nameSegments(name))
        target /= platform::Path(segment.toStdU16String());
    return target;
}
