#pragma once

#include "Platform.h"

#include <QDir>
#include <QString>

// The fixed files of the Product directory, shared by every step that touches them.
namespace produto {

inline constexpr char16_t Executavel[] = u"Vantra.exe";
inline constexpr char16_t Backup[] = u"Vantra_old.exe";
inline constexpr char16_t Pacote[] = u"Vantra.zip";

// The Product directory already ends in a separator; one more is added, as the
// file system reads two in a row as one.
inline platform::Path caminho(const QString& diretorio, const char16_t* nomeArquivo) {
    return platform::Path(
        (diretorio + QDir::separator() + QString::fromUtf16(nomeArquivo)).toStdU16String());
}

} // namespace produto
