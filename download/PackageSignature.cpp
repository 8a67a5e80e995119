#include "PackageSignature.h"

#include "ExceptionQt.h"
#include "MinisignFormat.h"
#include "SignatureCrypto.h"

#include <vector>

namespace {

constexpr std::size_t blockSize = 1 << 16;

std::array<unsigned char, 64> blake2bOf(platform::File& file) {
    crypto::Blake2b512 hash;
    std::vector<char> block(blockSize);
    file.seek(0);
    while (std::size_t n = file.read(block.data(), block.size()))
        hash.update(block.data(), n);
    return hash.digest();
}

// The legacy form signs the file itself, which Ed25519 takes only in one piece.
QByteArray contentOf(platform::File& file) {
    QByteArray content;
    std::vector<char> block(blockSize);
    file.seek(0);
    while (std::size_t n = file.read(block.data(), block.size()))
        content.append(block.data(), static_cast<qsizetype>(n));
    return content;
}

} // namespace

QString enderecoAssinatura(const QString& enderecoPacote) {
    return enderecoPacote + QStringLiteral(".minisig");
}

void verificarAssinaturaPacote(platform::File& pacote, const QByteArray& assinatura,
                               const QString& chavePublica) {
    const minisign::PublicKey key = minisign::parsePublicKey(chavePublica.toLatin1());
    const minisign::Signature sig = minisign::parseSignature(assinatura);
    if (sig.keyId != key.keyId)
        throw erro(QStringLiteral("The package was signed with another key (key ID %1; this "
                                  "updater trusts %2).")
                       .arg(minisign::keyIdText(sig.keyId), minisign::keyIdText(key.keyId)));

    bool valid;
    if (sig.algorithm == minisign::Algorithm::Ed25519Blake2b) {
        const auto digest = blake2bOf(pacote);
        valid = crypto::ed25519Verify(key.key, digest.data(), digest.size(), sig.signature);
    } else {
        const QByteArray content = contentOf(pacote);
        valid = crypto::ed25519Verify(key.key, content.constData(),
                                      static_cast<std::size_t>(content.size()), sig.signature);
    }
    if (!valid)
        throw erro(QStringLiteral("The package signature is not valid."));

    QByteArray signedComment(reinterpret_cast<const char*>(sig.signature.data()),
                             qsizetype(sig.signature.size()));
    signedComment += sig.trustedComment;
    if (!crypto::ed25519Verify(key.key, signedComment.constData(),
                               static_cast<std::size_t>(signedComment.size()), sig.globalSignature))
        throw erro(QStringLiteral("The trusted comment of the package signature is not valid."));
}
