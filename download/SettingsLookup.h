#pragma once

#include <QString>

#include <cstdint>

// The value of `chave` in the Remote settings document `texto`: from the first
// occurrence of the key (ASCII letters compared without case), the text after
// the first "=" up to the first "#" that follow that occurrence; empty when
// the key does not occur. Stored documents rely on every quirk of this rule.
QString valorDaChave(const QString& texto, const QString& chave);

// The Remote settings document: its address, and the most it may weigh.
QString enderecoDadosConexao();
constexpr std::uint64_t tamanhoMaximoDadosConexao = 1024 * 1024;
