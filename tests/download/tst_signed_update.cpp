// The update sequence of an updater built with a public key, against the
// loopback file server: a package that the real minisign program signed
// installs; any fault of the package or its signature changes nothing in the
// Product directory and gives Vantra.exe back.

#include "DownloadFixture.h"
#include "Exception.h"
#include "ExceptionQt.h"
#include "HttpClient.h"
#include "MinisignCli.h"
#include "PackageSignature.h"
#include "UAtualizador.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;
using namespace downloadtest;
using testsupport::TlsTestServer;

namespace {

const QString updateFailed = QStringLiteral("Não foi possível atualizar o aplicativo!");
const std::string oldProduct = "Vantra 1.0";
const std::string newProduct = "Vantra 2.0";

struct Steps : IEtapaAtualizador {
    QStringList lines;
    void AdicionarLinha(const QString& linha) override { lines << linha; }
    void ProcessarMensagens() override {}
};

} // namespace

class SignedUpdateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void signedUpdate_data();
    void signedUpdate();

private:
    QTemporaryDir work_;
    std::string package_;
    QByteArray hashed_, legacy_, otherKey_, accented_;
};

void SignedUpdateTest::initTestCase() {
    const QString content = work_.path() + QStringLiteral("/conteudo");
    QVERIFY(QDir().mkpath(content));
    writeFile((content + "/Vantra.exe").toStdString(), newProduct);
    writeFile((content + "/LEIAME.txt").toStdString(), "Vantra 2.0\r\n");
    const QString zip = work_.path() + QStringLiteral("/Vantra.zip");
    QProcess zipper;
    zipper.setWorkingDirectory(content);
    zipper.start(QStringLiteral("zip"), {QStringLiteral("-q"), zip, QStringLiteral("Vantra.exe"),
                                         QStringLiteral("LEIAME.txt")});
    QVERIFY(zipper.waitForFinished(30000) && zipper.exitCode() == 0);
    package_ = readFile(zip.toStdString());
    hashed_ = minisigncli::sign(zip);
    legacy_ = minisigncli::sign(zip, true);
    otherKey_ = minisigncli::sign(zip, false, minisigncli::generateKeyPair(work_.path()));
    accented_ =
        minisigncli::sign(zip, false, minisigncli::testSecretKey(), QStringLiteral("versão 2.0"));
    QVERIFY(!hashed_.isEmpty() && !legacy_.isEmpty() && !otherKey_.isEmpty());
    QVERIFY(accented_.contains("versão 2.0"));
}

void SignedUpdateTest::signedUpdate_data() {
    QTest::addColumn<bool>("plaintext");      // the package address is http
    QTest::addColumn<bool>("packageChanged"); // one byte of the served package differs
    QTest::addColumn<QByteArray>("signatureAnswer");
    QTest::addColumn<QString>("inner"); // empty: the update succeeds

    auto ok = [](const QByteArray& sig) {
        return QByteArray::fromStdString(
            withLength("HTTP/1.1 200 OK", sig.toStdString(), "Content-Type: text/plain\r\n"));
    };
    QByteArray changedComment = hashed_;
    changedComment.replace("trusted comment: ", "trusted comment: version 9 ");
    QByteArray padded =
        hashed_ + QByteArray(qsizetype(tamanhoMaximoAssinatura) - hashed_.size(), '\n');

    QTest::newRow("ED") << false << false << ok(hashed_) << QString();
    QTest::newRow("Ed (legacy)") << false << false << ok(legacy_) << QString();
    QTest::newRow("ED, plaintext package") << true << false << ok(hashed_) << QString();
    QTest::newRow("signature of exactly 64 KiB") << false << false << ok(padded) << QString();
    // The signed bytes are checked as received, whatever charset the server names.
    QTest::newRow("non-ASCII trusted comment, labelled UTF-16 text")
        << false << false
        << QByteArray::fromStdString(withLength("HTTP/1.1 200 OK", accented_.toStdString(),
                                                "Content-Type: text/plain; charset=utf-16\r\n"))
        << QString();
    QTest::newRow("one byte of the package changed")
        << false << true << ok(hashed_) << "The package signature is not valid.";
    QTest::newRow("one byte changed, plaintext package")
        << true << true << ok(hashed_) << "The package signature is not valid.";
    QTest::newRow("signed with another key")
        << false << false << ok(otherKey_) << "The package was signed with another key";
    QTest::newRow("trusted comment changed")
        << false << false << ok(changedComment)
        << "The trusted comment of the package signature is not valid.";
    QTest::newRow("no signature (404)")
        << false << false
        << QByteArray::fromStdString(withLength("HTTP/1.1 404 Not Found", "<html>404</html>"))
        << "HTTP/1.1 404 Not Found";
    QTest::newRow("signature over 64 KiB")
        << false << false << ok(padded + '\n') << "The response body is larger than 65536 bytes.";
    QTest::newRow("garbage instead of a signature")
        << false << false << ok(QByteArray::fromStdString(patterned(500)))
        << "The package signature file is not in the minisign format";
}

void SignedUpdateTest::signedUpdate() {
    QFETCH(bool, plaintext);
    QFETCH(bool, packageChanged);
    QFETCH(QByteArray, signatureAnswer);
    QFETCH(QString, inner);

    auto settingsServer = fileServer();
    std::unique_ptr<TlsTestServer> plain;
    if (plaintext)
        plain = plainServer();
    TlsTestServer& packageServer = plaintext ? *plain : *settingsServer;
    const std::uint16_t packagePort = packageServer.port();
    settingsServer->enqueue(
        settingsDocument(packageAddress(plaintext ? "http" : "https", packagePort)));
    std::string served = package_;
    if (packageChanged)
        served[served.size() / 2] ^= 0x20;
    // The signature request is the same client's next one: it carries the cookie.
    packageServer.enqueue(
        withLength("HTTP/1.1 200 OK", served,
                   "Content-Type: application/zip\r\nSet-Cookie: lote=3; Path=/\r\n"));
    packageServer.enqueue(signatureAnswer.toStdString());

    ProductDirectory product;
    writeFile(product.exe, oldProduct);
    Steps steps;
    HttpClient client(2s);
    std::optional<QString> failure;
    try {
        TAtualizador(steps, client, product.caminho).Atualizar();
    } catch (const std::exception& e) {
        failure = mensagem(e);
    }

    if (inner.isEmpty()) {
        QCOMPARE(failure.value_or(QString()), QString());
        QCOMPARE(steps.lines.size(), 3);
        QCOMPARE(readFile(product.exe), newProduct);
        QCOMPARE(readFile(product.old), oldProduct);
        QCOMPARE(readFile(product.dir / "LEIAME.txt"), std::string("Vantra 2.0\r\n"));
        QVERIFY(!fs::exists(product.zip));
    } else {
        QVERIFY(failure);
        const QString start = updateFailed + "\r\n\r\n" + downloadFailed + "\r\n\r\n" + inner;
        QVERIFY2(failure->startsWith(start), qPrintable(*failure));
        // Nothing unpacked, the package emptied, the product given back.
        QCOMPARE(steps.lines, QStringList{QStringLiteral("1 - Download do executável.")});
        QCOMPARE(readFile(product.exe), oldProduct);
        QVERIFY(!fs::exists(product.old));
        QVERIFY(!fs::exists(product.dir / "LEIAME.txt"));
        QCOMPARE(fs::file_size(product.zip), 0u);
        QCOMPARE(std::distance(fs::directory_iterator(product.dir), fs::directory_iterator()), 2);
    }

    // The third request, to the package's address + ".minisig", only with a key.
    const auto settings = settingsServer->requests();
    const auto requests = packageServer.requests();
    QCOMPARE(settings.front().raw, requestHead("/Vantra/DADOSCONEXAO.txt"));
    QCOMPARE(requests.size(), plaintext ? 2u : 3u);
    const std::size_t first = plaintext ? 0 : 1;
    QCOMPARE(requests[first].raw, requestHead(packagePath, {}, packagePort));
    QCOMPARE(requests[first + 1].raw, requestHead(packagePath + ".minisig", "lote=3", packagePort));
    QCOMPARE(requests[first + 1].connection, requests[first].connection); // kept alive
}

QTEST_GUILESS_MAIN(SignedUpdateTest)
#include "tst_signed_update.moc"
