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
// read it: dots and spaces only), a Windows device name, and a file entry
// with no name left. Packages are made for Windows, so the rule is the same
// on every platform.
bool isSafeEntryName(const QString& name, bool directory);

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, in any case, with any extension and
// trailing dots or spaces: Windows opens the device instead of a file.
bool isWindowsDeviceName(const QString& segment);

// The name leads to the file `packageName` (a plain name) right in the base
// directory, as Windows would read it.
bool namesThePackage(const QString& name, const QString& packageName);

// Where a safely named entry goes below `base`.
platform::Path targetPath(const platform::Path& base, const QString& name);
