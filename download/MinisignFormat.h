#pragma once

// The text formats of minisign, read as the stock tool writes them: the public
// key line of minisign.pub and the four lines of a .minisig file. Parsing only;
// the checks that need the key are in PackageSignature.

#include <QByteArray>
#include <QString>

#include <array>

namespace minisign {

using KeyId = std::array<unsigned char, 8>;
using Ed25519Key = std::array<unsigned char, 32>;
using Ed25519Signature = std::array<unsigned char, 64>;

struct PublicKey {
    KeyId keyId;
    Ed25519Key key;
};

enum class Algorithm {
    Ed25519,        // "Ed": the signature is over the file itself (legacy form)
    Ed25519Blake2b, // "ED": the signature is over the BLAKE2b-512 of the file
};

struct Signature {
    Algorithm algorithm;
    KeyId keyId;
    Ed25519Signature signature;
    QByteArray trustedComment;        // the text after "trusted comment: ", as signed
    Ed25519Signature globalSignature; // over `signature` followed by `trustedComment`
};

// The base64 line that starts with "RW". Throws with the reason.
PublicKey parsePublicKey(const QByteArray& line);
// A whole .minisig file, LF or CRLF line ends. Throws with the reason.
Signature parseSignature(const QByteArray& file);

// The key ID as minisign prints it ("untrusted comment: minisign public key ...").
QString keyIdText(const KeyId& id);

} // namespace minisign
