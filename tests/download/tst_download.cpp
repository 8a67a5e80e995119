// TDownload in a Product directory of its own, against the loopback file
// server at the test configuration's address: the backup move, the package
// file, both requests on the wire, the refusal of a plaintext package address,
// and what each failure leaves behind.

#include "DownloadFixture.h"
#include "ExceptionQt.h"
#include "HttpClient.h"
#include "Platform.h"
#include "TlsTestServer.h"
#include "UDownload.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::TlsTestServer;

namespace {

using namespace downloadtest;

// The window's client, as the window sets it up.
struct WindowClient {
    HttpClient http{2s};
    QStringList events;
    WindowClient() {
        http.OnWorkBegin = [this](TWorkMode, std::int64_t max) {
            events << QStringLiteral("begin %1").arg(max);
        };
        http.OnWork = [this](TWorkMode, std::int64_t n) { events << QString::number(n); };
        http.OnWorkEnd = [this](TWorkMode) { events << QStringLiteral("end"); };
    }
};

std::optional<QString> download(WindowClient& client, const ProductDirectory& product,
                                bool* backupFeito = nullptr) {
    TDownload download(client.http, product.caminho);
    try {
        download.RealizarDownload();
    } catch (const std::exception& e) {
        if (backupFeito)
            *backupFeito = download.BackupFeito();
        return mensagem(e);
    }
    if (backupFeito)
        *backupFeito = download.BackupFeito();
    return std::nullopt;
}

} // namespace

class TestDownload : public QObject {
    Q_OBJECT

private slots:
    void downloadsThePackage();
    void backupMove_data();
    void backupMove();
    void cannotCreateFile_data();
    void cannotCreateFile();
    void earlierPackageIsEmptiedAtCreation();
    void failureIsWrapped_data();
    void failureIsWrapped();
    void plaintextPackageIsRefused_data();
    void plaintextPackageIsRefused();
    void secondAttemptCarriesCookiesOnAFreshConnection();
};

void TestDownload::downloadsThePackage() {
    const std::string package = patterned(100000);
    auto server = fileServer();
    server->enqueue(settingsDocument());
    server->enqueue(withLength("HTTP/1.1 200 OK", package, "Content-Type: application/zip\r\n"));
    ProductDirectory product;
    writeFile(product.exe, "old product");
    WindowClient client;
    bool backupFeito = false;
    QCOMPARE(download(client, product, &backupFeito).value_or(QString()), QString());

    QVERIFY(backupFeito);
    QCOMPARE(readFile(product.old), std::string("old product"));
    QVERIFY(!fs::exists(product.exe));
    QVERIFY(readFile(product.zip) == package);
    // The settings client raises no events; the package's body does.
    QCOMPARE(client.events,
             QStringList({"begin 100000", "32768", "65536", "98304", "100000", "end"}));

    const auto requests = server->requests();
    QCOMPARE(requests.size(), 2u);
    QCOMPARE(requests[0].raw, requestHead("/Vantra/DADOSCONEXAO.txt"));
    QCOMPARE(requests[1].raw, requestHead(packagePath));
    // The settings client is an object of its own, with its own connection.
    QCOMPARE(requests[0].connection, 1);
    QCOMPARE(requests[1].connection, 2);
    QCOMPARE(requests[1].serverName, std::string("localhost"));
}

void TestDownload::backupMove_data() {
    QTest::addColumn<bool>("exeExists");
    QTest::addColumn<bool>("oldExists");
    QTest::addColumn<bool>("moved");
    QTest::newRow("executable only") << true << false << true;
    QTest::newRow("no executable") << false << false << false;
    QTest::newRow("backup already there") << true << true << false;
    QTest::newRow("only the backup") << false << true << false;
}

void TestDownload::backupMove() {
    QFETCH(bool, exeExists);
    QFETCH(bool, oldExists);
    QFETCH(bool, moved);
    auto server = fileServer();
    server->enqueue(settingsDocument());
    server->enqueue(withLength("HTTP/1.1 200 OK", "PK"));
    ProductDirectory product;
    if (exeExists)
        writeFile(product.exe, "new exe");
    if (oldExists)
        writeFile(product.old, "previous backup");
    WindowClient client;
    bool backupFeito = !moved;
    QCOMPARE(download(client, product, &backupFeito).value_or(QString()), QString());
    QCOMPARE(backupFeito, moved);
    QCOMPARE(readFile(product.zip), std::string("PK")); // the download went on in every case
    if (moved) {
        QVERIFY(!fs::exists(product.exe));
        QCOMPARE(readFile(product.old), std::string("new exe"));
    } else {
        QCOMPARE(fs::exists(product.exe), exeExists);
        if (exeExists)
            QCOMPARE(readFile(product.exe), std::string("new exe"));
        if (oldExists)
            QCOMPARE(readFile(product.old), std::string("previous backup"));
    }
}

void TestDownload::cannotCreateFile_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("osError");
    QTest::newRow("directory missing") << "missing" << ENOENT;
    QTest::newRow("directory is a file") << "file" << ENOTDIR;
    QTest::newRow("package path is a directory") << "zipdir" << EISDIR;
    QTest::newRow("package held by another holder") << "held" << EWOULDBLOCK;
}

void TestDownload::cannotCreateFile() {
    QFETCH(QString, situation);
    QFETCH(int, osError);
    ProductDirectory product;
    writeFile(product.exe, "exe");
    QString caminho = product.caminho;
    std::optional<platform::File> holder;
    if (situation == "missing") {
        caminho = product.caminho + QStringLiteral("nada") + QDir::separator();
    } else if (situation == "file") {
        writeFile(product.dir / "arquivo", "x");
        caminho = product.caminho + QStringLiteral("arquivo") + QDir::separator();
    } else if (situation == "zipdir") {
        fs::create_directory(product.zip);
    } else {
        holder.emplace(platform::File::createExclusive(product.zip));
        holder->write("held", 4);
    }
    WindowClient client;
    std::optional<QString> failure;
    try {
        TDownload download(client.http, caminho);
    } catch (const std::exception& e) {
        failure = mensagem(e);
    }
    const QString path = caminho + QDir::separator() + QStringLiteral("Vantra.zip");
    QCOMPARE(failure.value_or(QString()),
             QStringLiteral("Cannot create file \"") + path + QStringLiteral("\". ") +
                 QString::fromStdU16String(platform::systemErrorMessage(osError)));
    QCOMPARE(readFile(product.exe), std::string("exe"));
    if (holder) // the holder's file keeps its content
        QCOMPARE(readFile(product.zip), std::string("held"));
}

void TestDownload::earlierPackageIsEmptiedAtCreation() {
    auto server = fileServer();
    ProductDirectory product;
    writeFile(product.zip, patterned(5000));
    WindowClient client;
    TDownload download(client.http, product.caminho);
    QCOMPARE(fs::file_size(product.zip), 0u);
    QCOMPARE(server->connectionCount(), 0);
}

void TestDownload::failureIsWrapped_data() {
    QTest::addColumn<QStringList>("answers"); // raw answers; "none": no server at all
    QTest::addColumn<QString>("inner");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("zipSize");
    QTest::addColumn<QStringList>("events");
    auto s = [](const std::string& raw) { return QString::fromLatin1(raw); };
    const QStringList none;
    QTest::newRow("settings server unreachable")
        << QStringList{"none"} << "Socket Error # 10061\r\nConnection refused." << 0 << 0 << none;
    QTest::newRow("key absent") << QStringList{s(withLength("HTTP/1.1 200 OK", "outra=x#"))}
                                << "Unknown Protocol" << 1 << 0 << none;
    QTest::newRow("settings document empty (204)")
        << QStringList{"HTTP/1.1 204 No Content\r\n\r\n"} << "Unknown Protocol" << 1 << 0 << none;
    QTest::newRow("settings document redirected")
        << QStringList{s(withLength("HTTP/1.1 301 Moved Permanently", "",
                                    "Location: https://elsewhere/\r\n"))}
        << "HTTP/1.1 301 Moved Permanently" << 1 << 0 << none;
    QTest::newRow("settings document over 1 MiB")
        << QStringList{s(withLength("HTTP/1.1 200 OK", std::string(1048577, 'x')))}
        << "The response body is larger than 1048576 bytes." << 1 << 0 << none;
    QTest::newRow("package address not http")
        << QStringList{s(settingsDocument("file:///etc/passwd"))} << "Unknown Protocol" << 1 << 0
        << none;
    QTest::newRow("package 404 with body")
        << QStringList{s(settingsDocument()),
                       s(withLength("HTTP/1.1 404 Not Found", std::string(1000, 'e')))}
        << "HTTP/1.1 404 Not Found" << 2 << 0 << QStringList{"begin 1000", "1000", "end"};
    QTest::newRow("package redirected")
        << QStringList{s(settingsDocument()),
                       s(withLength("HTTP/1.1 302 Found", "", "Location: https://x/\r\n"))}
        << "HTTP/1.1 302 Found" << 2 << 0 << none;
    QTest::newRow("package cut halfway")
        << QStringList{s(settingsDocument()),
                       s("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + patterned(50000)) +
                           "<close>"}
        << "Connection closed after 50000 of 100000 bytes." << 2 << 50000
        << QStringList{"begin 100000", "32768", "50000", "end"};
    QTest::newRow("settings server silent")
        << QStringList{"<hold>"} << "Read timed out." << 1 << 0 << none;
}

void TestDownload::failureIsWrapped() {
    QFETCH(QStringList, answers);
    QFETCH(QString, inner);
    QFETCH(int, requests);
    QFETCH(int, zipSize);
    QFETCH(QStringList, events);
    std::unique_ptr<TlsTestServer> server;
    if (answers != QStringList{"none"}) {
        server = fileServer();
        for (QString answer : answers) {
            Script script;
            bool close = answer.endsWith(QStringLiteral("<close>"));
            bool hold = answer == QStringLiteral("<hold>");
            if (close)
                answer.chop(7);
            if (!hold)
                script.send(answer.toLatin1().toStdString());
            if (close)
                script.close();
            if (hold)
                script.hold();
            server->enqueue(script);
        }
    }
    ProductDirectory product;
    writeFile(product.exe, "exe");
    WindowClient client;
    bool backupFeito = false;
    QCOMPARE(download(client, product, &backupFeito).value_or(QString()),
             downloadFailed + QStringLiteral("\r\n\r\n") + inner);
    // The backup was made before anything went over the network.
    QVERIFY(backupFeito);
    QVERIFY(!fs::exists(product.exe));
    QCOMPARE(readFile(product.old), std::string("exe"));
    QVERIFY(fs::exists(product.zip));
    QCOMPARE(readFile(product.zip), patterned(static_cast<std::size_t>(zipSize)));
    QCOMPARE(client.events, events);
    QCOMPARE(server ? static_cast<int>(server->requests().size()) : 0, requests);
}

void TestDownload::plaintextPackageIsRefused_data() {
    QTest::addColumn<QString>("scheme"); // the rest is "//localhost:<port>/pacotes/Vantra.zip"
    QTest::addColumn<bool>("backslashes");
    QTest::newRow("http") << "http:" << false;
    QTest::newRow("in capitals") << "HTTP:" << false;
    QTest::newRow("backslashes the client reads as slashes") << "http:" << true;
}

// Without a built-in key only TLS vouches for the package: an http address is
// refused before anything is sent to it.
void TestDownload::plaintextPackageIsRefused() {
    QFETCH(QString, scheme);
    QFETCH(bool, backslashes);
    auto plain = plainServer();
    plain->enqueue(withLength("HTTP/1.1 200 OK", "PK"));
    std::string address =
        scheme.toStdString() + "//localhost:" + std::to_string(plain->port()) + packagePath;
    if (backslashes)
        std::replace(address.begin(), address.end(), '/', '\\');
    auto server = fileServer();
    server->enqueue(settingsDocument(address));
    ProductDirectory product;
    writeFile(product.exe, "exe");
    WindowClient client;
    bool backupFeito = false;
    QCOMPARE(download(client, product, &backupFeito).value_or(QString()),
             downloadFailed + QStringLiteral("\r\n\r\nThe package address \"") +
                 QString::fromStdString(address) +
                 QStringLiteral("\" is not secure: https is required."));
    QCOMPARE(plain->connectionCount(), 0);
    QCOMPARE(server->requests().size(), 1u);
    QVERIFY(backupFeito); // given back by the update sequence, as after any failure
    QCOMPARE(fs::file_size(product.zip), 0u);
    QVERIFY(client.events.isEmpty());
}

void TestDownload::secondAttemptCarriesCookiesOnAFreshConnection() {
    auto server = fileServer();
    server->enqueue(settingsDocument());
    server->enqueue(
        withLength("HTTP/1.1 503 Service Unavailable", "later", "Set-Cookie: fila=7; Path=/\r\n"));
    server->enqueue(settingsDocument());
    server->enqueue(withLength("HTTP/1.1 200 OK", "PK-second"));
    ProductDirectory product;
    writeFile(product.exe, "exe");
    WindowClient client; // one for the whole run, as the window's is

    bool first = false, second = true;
    QCOMPARE(download(client, product, &first).value_or(QString()),
             downloadFailed + QStringLiteral("\r\n\r\nHTTP/1.1 503 Service Unavailable"));
    writeFile(product.zip, "left over"); // emptied again by the next attempt
    QCOMPARE(download(client, product, &second).value_or(QString()), QString());
    QVERIFY(first);
    QVERIFY(!second); // the first attempt's backup stays as it is
    QCOMPARE(readFile(product.zip), std::string("PK-second"));

    const auto requests = server->requests();
    QCOMPARE(requests.size(), 4u);
    QCOMPARE(requests[1].raw, requestHead(packagePath));
    // The settings client never holds cookies; the window's client sends them back.
    QCOMPARE(requests[2].raw, requestHead("/Vantra/DADOSCONEXAO.txt"));
    QCOMPARE(requests[3].raw, requestHead(packagePath, "fila=7"));
    QVERIFY(requests[3].connection != requests[1].connection);
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
