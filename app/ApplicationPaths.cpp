#include "ApplicationPaths.h"

#include "Platform.h"

#include <QDir>

#include <algorithm>

namespace {

qsizetype lastSeparator(const QString& path) {
    qsizetype last = -1;
    for (char16_t separator : platform::pathSeparators())
        last = std::max(last, path.lastIndexOf(QChar(separator)));
    return last;
}

} // namespace

QString applicationTitle(const QString& executablePath) {
    QString name = executablePath.mid(lastSeparator(executablePath) + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    // The first character keeps its case, a surrogate pair being one character.
    const qsizetype first =
        name.size() > 1 && name[0].isHighSurrogate() && name[1].isLowSurrogate() ? 2 : 1;
    return name.left(first) + name.mid(first).toLower();
}

QString directoryOf(const QString& executablePath) {
    return QDir::toNativeSeparators(executablePath.left(lastSeparator(executablePath) + 1));
}
