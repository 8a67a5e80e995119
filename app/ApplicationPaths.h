#pragma once

#include <QString>

// What the updater learns from the full path of its own executable.

// The file name up to its first full stop, every character after the first in
// lower case: ".../AtualizadorVantra.exe" gives "Atualizadorvantra".
QString applicationTitle(const QString& executablePath);

// The executable's directory with its trailing separator, in native form.
QString directoryOf(const QString& executablePath);
