// vantra-test-server as the demo and the end-to-end test run it: ready line,
// files by path with 404 otherwise, several requests on one kept-alive
// connection, and a clean exit on SIGTERM.

#include "ExceptionQt.h"
#include "HttpClient.h"
#include "TlsTestServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fstream>

class TestTestServer : public QObject {
    Q_OBJECT

private slots:
    void servesTheDirectoryUntilTerminated();
};

void TestTestServer::servesTheDirectoryUntilTerminated() {
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("Vantra"));
    std::ofstream(root.filePath(QStringLiteral("Vantra/DADOSCONEXAO.txt")).toStdString())
        << "executavelvantra=x#";
    std::ofstream(root.filePath(QStringLiteral("big.bin")).toStdString())
        << std::string(300000, 'b');

    QProcess server;
    server.start(QStringLiteral(VANTRA_TEST_SERVER_PROGRAM),
                 {"--port", "0", "--cert", testsupport::testCertFile(), "--key",
                  testsupport::testKeyFile(), "--root", root.path()});
    QVERIFY(server.waitForReadyRead(10000));
    const QByteArray ready = server.readLine().trimmed();
    QVERIFY2(ready.startsWith("listening on "), ready.constData());
    const QString base = QStringLiteral("https://localhost:") + ready.mid(13);

    HttpClient client(std::chrono::seconds(5));
    client.setCaFile(QString::fromUtf8(testsupport::testCaFile()));
    QCOMPARE(client.Get(base + "/Vantra/DADOSCONEXAO.txt", 1000),
             QStringLiteral("executavelvantra=x#"));
    QCOMPARE(client.Get(base + "/big.bin", 1 << 20).size(), 300000);
    QString failure;
    try {
        client.Get(base + "/missing.zip", 1000);
    } catch (const std::exception& e) {
        failure = mensagem(e);
    }
    QCOMPARE(failure, QStringLiteral("HTTP/1.1 404 Not Found"));
    QCOMPARE(client.Get(base + "/Vantra/DADOSCONEXAO.txt", 1000).size(), 19);

    ::kill(static_cast<pid_t>(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    const QString log = QString::fromLatin1(server.readAllStandardError());
    QCOMPARE(log.count(QStringLiteral("GET ")), 4);
    QVERIFY(log.contains(QStringLiteral("GET /missing.zip HTTP/1.1")));
}

QTEST_GUILESS_MAIN(TestTestServer)
#include "tst_test_server.moc"
