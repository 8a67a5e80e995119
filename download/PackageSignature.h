#pragma once

#include "Platform.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The signature of a package lies beside it, under its address with this added.
QString enderecoAssinatura(const QString& enderecoPacote);
constexpr std::uint64_t tamanhoMaximoAssinatura = 64 * 1024;

// Checks the package file, read from its start through the open handle, against
// the .minisig text `assinatura` and the public key `chavePublica` (the base64
// line of minisign.pub): the key ID, the signature over the file, and the
// global signature over the trusted comment. Throws with the first failure.
void verificarAssinaturaPacote(platform::File& pacote, const QByteArray& assinatura,
                               const QString& chavePublica);
