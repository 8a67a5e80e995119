// TAtualizador end to end over the loopback file server: a real download of a
// real package, then its extraction. What the user sees in the Step list and
// the error, and what is left of the product.

#include "Exception.h"
#include "HttpClient.h"
#include "TlsTestServer.h"
#include "UAtualizador.h"
#include "ZipFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

struct RecordingSteps : IEtapaAtualizador {
    QStringList lines;
    void AdicionarLinha(const QString& linha) override { lines << linha; }
    void ProcessarMensagens() override {}
};

std::string withLength(const std::string& statusLine, const QByteArray& body) {
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body.toStdString();
}

std::string settingsDocument() {
    const std::string address =
        "https://localhost:" + std::to_string(testsupport::fixedTestPort) + "/pacotes/Vantra.zip";
    return withLength(
        "HTTP/1.1 200 OK",
        QByteArray::fromStdString("servidor=x#\r\nexecutavelvantra=" + address + "#\r\n"));
}

void write(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

FixtureEntry file(const char* name, const QByteArray& data) {
    FixtureEntry e;
    e.name = name;
    e.data = data;
    return e;
}

const QString step1 = QStringLiteral("1 - Download do executável.");
const QString step2 = QStringLiteral("2 - Descompactando o executável.");
const QString step3 = QStringLiteral("3 - Executável atualizado com sucesso.");
const QString failedExtraction = QStringLiteral("Não foi possível atualizar o aplicativo!\r\n\r\n"
                                                "Não foi possível descompactar o arquivo!\r\n\r\n");

} // namespace

class UpdateSequenceTest : public QObject {
    Q_OBJECT

private slots:
    void update_data() {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("exeAfter");
        QTest::addColumn<QByteArray>("oldAfter");
        QTest::addColumn<QByteArray>("zipAfter");

        QByteArray good = buildZip({file("Vantra.exe", "versão nova")});
        QTest::newRow("good package") << good << QString() << QByteArray("versão nova")
                                      << QByteArray("versão antiga") << QByteArray("<missing>");

        QByteArray damaged = good;
        ZipPatcher(damaged).setCrc(0, ZipPatcher(damaged).crc(0) ^ 1);
        QTest::newRow("CRC error: the product is put back")
            << damaged << failedExtraction + "CRC error in entry Vantra.exe"
            << QByteArray("versão antiga") << QByteArray("<missing>") << damaged;

        QByteArray page("<html><body>Manutenção</body></html>");
        QTest::newRow("a page instead of the package")
            << page << failedExtraction + "Unhandled Archive Type" << QByteArray("versão antiga")
            << QByteArray("<missing>") << page;
    }

    void update() {
        QFETCH(QByteArray, package);
        QFETCH(QString, message);
        QFETCH(QByteArray, exeAfter);
        QFETCH(QByteArray, oldAfter);
        QFETCH(QByteArray, zipAfter);

        testsupport::ServerOptions options;
        options.port = testsupport::fixedTestPort;
        testsupport::TlsTestServer server(options);
        server.enqueue(settingsDocument());
        server.enqueue(withLength("HTTP/1.1 200 OK", package));

        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        write(d + "Vantra.exe", "versão antiga");
        RecordingSteps steps;
        HttpClient client;
        TAtualizador atualizador(steps, client, d);
        QString got;
        try {
            atualizador.Atualizar();
        } catch (const Exception& e) {
            got = QString::fromStdU16String(e.message());
        }
        QCOMPARE(got, message);
        const QStringList shown =
            message.isEmpty() ? QStringList{step1, step2, step3} : QStringList{step1, step2};
        QCOMPARE(steps.lines, shown);
        QCOMPARE(read(d + "Vantra.exe"), exeAfter);
        QCOMPARE(read(d + "Vantra_old.exe"), oldAfter);
        QCOMPARE(read(d + "Vantra.zip"), zipAfter);
    }
};

QTEST_GUILESS_MAIN(UpdateSequenceTest)
#include "tst_update_sequence.moc"
