#include "MinisignFormat.h"

#include "ExceptionQt.h"

#include <QList>

#include <algorithm>
#include <optional>

namespace minisign {

namespace {

constexpr char untrustedPrefix[] = "untrusted comment: ";
constexpr char trustedPrefix[] = "trusted comment: ";

[[noreturn]] void malformed(const QString& reason) {
    throw erro(QStringLiteral("The package signature file is not in the minisign format (%1).")
                   .arg(reason));
}

// Canonical base64 of exactly `size` bytes, or nothing.
std::optional<QByteArray> decodeExactly(const QByteArray& text, qsizetype size) {
    auto result = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size || result.decoded.toBase64() != text)
        return std::nullopt;
    return result.decoded;
}

template <std::size_t N>
std::array<unsigned char, N> bytesAt(const QByteArray& data, qsizetype at) {
    std::array<unsigned char, N> out;
    std::copy_n(reinterpret_cast<const unsigned char*>(data.constData() + at), N, out.begin());
    return out;
}

// Comments are one line of text: a tab is allowed (minisign's own trusted
// comment has tabs), other control characters are not.
bool isCommentText(const QByteArray& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
    });
}

QList<QByteArray> linesOf(const QByteArray& file) {
    QList<QByteArray> lines = file.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    // Nothing but line ends may follow the fourth line.
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

PublicKey parsePublicKey(const QByteArray& line) {
    auto bytes = decodeExactly(line, 2 + 8 + 32);
    if (!bytes || !bytes->startsWith("Ed"))
        throw erro(QStringLiteral("The updater's public key is not a minisign public key."));
    return {bytesAt<8>(*bytes, 2), bytesAt<32>(*bytes, 10)};
}

Signature parseSignature(const QByteArray& file) {
    const QList<QByteArray> lines = linesOf(file);
    if (lines.size() != 4)
        malformed(QStringLiteral("expected 4 lines, found %1").arg(lines.size()));
    if (!lines[0].startsWith(untrustedPrefix) || !isCommentText(lines[0]))
        malformed(QStringLiteral("the first line is not an untrusted comment"));

    auto body = decodeExactly(lines[1], 2 + 8 + 64);
    if (!body)
        malformed(QStringLiteral("the second line is not a signature"));
    Signature sig;
    if (body->startsWith("ED"))
        sig.algorithm = Algorithm::Ed25519Blake2b;
    else if (body->startsWith("Ed"))
        sig.algorithm = Algorithm::Ed25519;
    else
        malformed(QStringLiteral("unknown signature algorithm"));
    sig.keyId = bytesAt<8>(*body, 2);
    sig.signature = bytesAt<64>(*body, 10);

    if (!lines[2].startsWith(trustedPrefix) || !isCommentText(lines[2]))
        malformed(QStringLiteral("the third line is not a trusted comment"));
    sig.trustedComment = lines[2].mid(qsizetype(sizeof trustedPrefix) - 1);

    auto global = decodeExactly(lines[3], 64);
    if (!global)
        malformed(QStringLiteral("the fourth line is not a signature"));
    sig.globalSignature = bytesAt<64>(*global, 0);
    return sig;
}

QString keyIdText(const KeyId& id) {
    QString text;
    // minisign prints the little-endian number the eight bytes make.
    for (auto it = id.rbegin(); it != id.rend(); ++it)
        text += QStringLiteral("%1").arg(*it, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace minisign
