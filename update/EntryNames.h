#pragma once

#include "Platform.h"

#include <QString>
#include <QStringList>

// The name's path segments, "\" and "/" both read as separators, empty and
// "." segments dropped.
QStringList nameSegments(const QString& name);

// False for any name that could reach outside the base directory or a place
// other than a plain file: absolute, drive and UNC names, a ":" anywhere (an
// alternate data stream on Windows), a ".." segment (also as Windows would
// read it: dots and spaces only), and a file entry with no name left.
bool isSafeEntryName(const QString& name, bool directory);

// Where a safely named entry goes below `base`.
platform::Path targetPath(const platform::Path& base, const QString& name);
