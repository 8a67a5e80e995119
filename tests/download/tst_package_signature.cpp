// The package signature check against files signed by the real minisign
// program: both signature forms, the key ID, the trusted comment, and the
// format of each line of a .minisig file.

#include "DownloadFixture.h"
#include "ExceptionQt.h"
#include "MinisignCli.h"
#include "PackageSignature.h"
#include "Platform.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

using namespace downloadtest;

namespace {

const QString notValid = QStringLiteral("The package signature is not valid.");
const QString commentNotValid =
    QStringLiteral("The trusted comment of the package signature is not valid.");

QString malformed(const QString& reason) {
    return QStringLiteral("The package signature file is not in the minisign format (%1).")
        .arg(reason);
}

QList<QByteArray> lines(const QByteArray& sig) {
    QList<QByteArray> l = sig.split('\n');
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l;
}

QByteArray joined(const QList<QByteArray>& l) {
    return l.join('\n') + '\n';
}

// The signature line with its two-byte algorithm replaced.
QByteArray withAlgorithm(const QByteArray& line, const char* algorithm) {
    QByteArray bytes = QByteArray::fromBase64(line);
    bytes.replace(0, 2, algorithm);
    return bytes.toBase64();
}

// The signature line with the key ID of `from`.
QByteArray withKeyIdOf(const QByteArray& line, const QByteArray& from) {
    QByteArray bytes = QByteArray::fromBase64(line);
    bytes.replace(2, 8, QByteArray::fromBase64(from).mid(2, 8));
    return bytes.toBase64();
}

} // namespace

class PackageSignatureTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void verification_data();
    void verification();
    void builtInKeyMustBeAMinisignKey_data();
    void builtInKeyMustBeAMinisignKey();

private:
    QTemporaryDir dir_;
    QString package_;
    std::string content_;
    QByteArray hashed_, legacy_, otherKey_;
};

void PackageSignatureTest::initTestCase() {
    // Over several read blocks, so that the hash is fed in pieces.
    content_ = patterned(200000);
    package_ = dir_.path() + QStringLiteral("/Vantra.zip");
    writeFile(package_.toStdString(), content_);
    hashed_ = minisigncli::sign(package_);
    legacy_ = minisigncli::sign(package_, true);
    otherKey_ = minisigncli::sign(package_, false, minisigncli::generateKeyPair(dir_.path()));
    QVERIFY(!hashed_.isEmpty() && !legacy_.isEmpty() && !otherKey_.isEmpty());
    QVERIFY(QByteArray::fromBase64(lines(hashed_)[1]).startsWith("ED"));
    QVERIFY(QByteArray::fromBase64(lines(legacy_)[1]).startsWith("Ed"));
}

void PackageSignatureTest::verification_data() {
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<int>("changedByte"); // -1: the package as signed
    QTest::addColumn<QString>("failure"); // empty: valid

    for (bool legacy : {false, true}) {
        const QByteArray sig = legacy ? legacy_ : hashed_;
        const QList<QByteArray> l = lines(sig);
        const char* form = legacy ? "Ed" : "ED";
        auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", form, name);
        };

        row("as signed") << sig << -1 << QString();
        row("CRLF line ends") << QByteArray(sig).replace("\n", "\r\n") << -1 << QString();
        row("no final line end") << sig.chopped(1) << -1 << QString();
        row("untrusted comment changed")
            << joined({"untrusted comment: anything at all", l[1], l[2], l[3]}) << -1 << QString();
        row("first byte of the package changed") << sig << 0 << notValid;
        row("last byte of the package changed") << sig << int(content_.size() - 1) << notValid;
        row("trusted comment changed")
            << joined({l[0], l[1], l[2] + "x", l[3]}) << -1 << commentNotValid;
        row("global signature of another signature")
            << joined({l[0], l[1], l[2], lines(legacy ? hashed_ : legacy_)[3]}) << -1
            << commentNotValid;
        row("other form claimed") << joined({l[0], withAlgorithm(l[1], legacy ? "ED" : "Ed"), l[2],
                                             l[3]})
                                  << -1 << notValid;
    }

    const QList<QByteArray> l = lines(hashed_);
    const QList<QByteArray> other = lines(otherKey_);
    // Key IDs as minisign prints them: ours from the key, the other one from its minisign.pub.
    QByteArray ourId = QByteArray::fromBase64(minisigncli::testPublicKey().toLatin1()).mid(2, 8);
    std::reverse(ourId.begin(), ourId.end());
    const QByteArray otherId =
        lines(minisigncli::readAll(dir_.path() + "/other.pub"))[0].split(' ').last();
    QTest::newRow("signed with another key")
        << otherKey_ << -1
        << QStringLiteral("The package was signed with another key (key ID %1; this updater "
                          "trusts %2).")
               .arg(QString::fromLatin1(otherId), QString::fromLatin1(ourId.toHex().toUpper()));
    QTest::newRow("another key's signature under our key ID")
        << joined({other[0], withKeyIdOf(other[1], minisigncli::testPublicKey().toLatin1()),
                   other[2], other[3]})
        << -1 << notValid;

    QTest::newRow("empty") << QByteArray() << -1 << malformed("expected 4 lines, found 0");
    QTest::newRow("an error page") << QByteArray("<html><body>Not here</body></html>\n") << -1
                                   << malformed("expected 4 lines, found 1");
    QTest::newRow("untrusted comment missing")
        << joined({l[1], l[2], l[3]}) << -1 << malformed("expected 4 lines, found 3");
    QTest::newRow("a fifth line") << joined({l[0], l[1], l[2], l[3], "x"}) << -1
                                  << malformed("expected 4 lines, found 5");
    QTest::newRow("first line without its prefix")
        << joined({"untrusted: x", l[1], l[2], l[3]}) << -1
        << malformed("the first line is not an untrusted comment");
    QTest::newRow("control character in the untrusted comment")
        << joined({l[0] + '\x1b', l[1], l[2], l[3]}) << -1
        << malformed("the first line is not an untrusted comment");
    QTest::newRow("signature line not base64")
        << joined({l[0], "!" + l[1].mid(1), l[2], l[3]}) << -1
        << malformed("the second line is not a signature");
    QTest::newRow("signature line short") << joined({l[0], l[1].chopped(4), l[2], l[3]}) << -1
                                          << malformed("the second line is not a signature");
    QTest::newRow("signature line with a space") << joined({l[0], l[1] + ' ', l[2], l[3]}) << -1
                                                 << malformed("the second line is not a signature");
    QTest::newRow("unknown algorithm") << joined({l[0], withAlgorithm(l[1], "EX"), l[2], l[3]})
                                       << -1 << malformed("unknown signature algorithm");
    QTest::newRow("third line without its prefix")
        << joined({l[0], l[1], l[2].mid(1), l[3]}) << -1
        << malformed("the third line is not a trusted comment");
    QTest::newRow("control character in the trusted comment")
        << joined({l[0], l[1], l[2] + '\x01', l[3]}) << -1
        << malformed("the third line is not a trusted comment");
    QTest::newRow("global signature line short")
        << joined({l[0], l[1], l[2], l[3].chopped(4)}) << -1
        << malformed("the fourth line is not a signature");
}

void PackageSignatureTest::verification() {
    QFETCH(QByteArray, signature);
    QFETCH(int, changedByte);
    QFETCH(QString, failure);
    std::string content = content_;
    if (changedByte >= 0)
        content[std::size_t(changedByte)] ^= 0x01;
    platform::File file = platform::File::createExclusive(
        platform::Path((dir_.path() + "/checked.zip").toStdString()));
    file.write(content.data(), content.size()); // left at its end: the check reads from the start
    std::optional<QString> error;
    try {
        verificarAssinaturaPacote(file, signature, minisigncli::testPublicKey());
    } catch (const std::exception& e) {
        error = mensagem(e);
    }
    QCOMPARE(error.value_or(QString()), failure);
}

void PackageSignatureTest::builtInKeyMustBeAMinisignKey_data() {
    QTest::addColumn<QString>("key");
    const QByteArray good = QByteArray::fromBase64(minisigncli::testPublicKey().toLatin1());
    QTest::newRow("not base64") << QString(minisigncli::testPublicKey()).replace(5, 1, u'*');
    QTest::newRow("one byte short") << QString::fromLatin1(good.chopped(1).toBase64());
    QTest::newRow("not an Ed25519 key")
        << QString::fromLatin1(QByteArray(good).replace(0, 2, "Ex").toBase64());
}

void PackageSignatureTest::builtInKeyMustBeAMinisignKey() {
    QFETCH(QString, key);
    platform::File file = platform::File::createExclusive(
        platform::Path((dir_.path() + "/checked.zip").toStdString()));
    file.write(content_.data(), content_.size());
    std::optional<QString> error;
    try {
        verificarAssinaturaPacote(file, hashed_, key);
    } catch (const std::exception& e) {
        error = mensagem(e);
    }
    QCOMPARE(error.value_or(QString()),
             QStringLiteral("The updater's public key is not a minisign public key."));
}

QTEST_GUILESS_MAIN(PackageSignatureTest)
#include "tst_package_signature.moc"
