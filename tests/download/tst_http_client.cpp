// The HTTP client against our loopback TLS server: what goes on the wire,
// how each answer ends, the work events, time-outs, TLS and error messages.

#include "ExceptionQt.h"
#include "HttpClient.h"
#include "Platform.h"
#include "TlsTestServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/tls1.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::TlsTestServer;

namespace {

const QString userAgent =
    QStringLiteral("Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0");

std::string patterned(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

std::string withLength(const std::string& statusLine, const std::string& body,
                       const std::string& headers = {}) {
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
           "\r\n" + body;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Client {
    HttpClient http;
    QStringList events;

    explicit Client(std::chrono::milliseconds timeout = 2s) : http(timeout) {
        http.UserAgent = userAgent;
        http.setCaFile(QString::fromUtf8(testsupport::testCaFile()));
        http.OnWorkBegin = [this](TWorkMode, std::int64_t max) {
            events << QStringLiteral("begin %1").arg(max);
        };
        http.OnWork = [this](TWorkMode, std::int64_t n) { events << QString::number(n); };
        http.OnWorkEnd = [this](TWorkMode) { events << QStringLiteral("end"); };
    }
};

// The message a call fails with, or nothing when it succeeds.
template <typename F> std::optional<QString> failureOf(F&& call) {
    try {
        call();
        return std::nullopt;
    } catch (const std::exception& e) {
        return mensagem(e);
    }
}

QString url(const TlsTestServer& server, const std::string& path) {
    return QString::fromStdString(server.baseUrl() + path);
}

struct PackageFile {
    QTemporaryDir dir;
    std::filesystem::path path{dir.filePath(QStringLiteral("Vantra.zip")).toStdString()};
    platform::File file = platform::File::createExclusive(path);
    std::string content() const { return readFile(path); }
};

// A small ext4 file system, loop-mounted for one test: tmpfs gives a failed
// reservation back by itself and would hide a fault.
class SmallExt4 {
public:
    explicit SmallExt4(int mebibytes) {
        if (::geteuid() != 0) {
            why_ = "mounting a file system needs root";
            return;
        }
        image_ = dir_.filePath(QStringLiteral("disk.img")).toStdString();
        mountPoint_ = dir_.filePath(QStringLiteral("mnt")).toStdString();
        std::filesystem::create_directory(mountPoint_);
        std::string make = "truncate -s " + std::to_string(mebibytes) + "M '" + image_ +
                           "' && mkfs.ext4 -q -F -m 0 '" + image_ + "' && mount -o loop '" +
                           image_ + "' '" + mountPoint_.string() + "'";
        if (std::system(make.c_str()) != 0) {
            why_ = "cannot make and loop-mount an ext4 image (" + make + ")";
            return;
        }
        mounted_ = true;
    }
    ~SmallExt4() {
        if (mounted_)
            ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return why_; }
    std::filesystem::path path(const char* name) const { return mountPoint_ / name; }
    std::uint64_t freeBytes() const {
        struct statvfs st {};
        ::statvfs(mountPoint_.c_str(), &st);
        return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    }

private:
    QTemporaryDir dir_;
    std::string image_;
    std::filesystem::path mountPoint_;
    bool mounted_ = false;
    std::string why_;
};

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT

private slots:
    void requestHeadIsExact_data();
    void requestHeadIsExact();
    void statusDecidesOutcome_data();
    void statusDecidesOutcome();
    void failingBodyNeverReachesTheFile();
    void workEvents_data();
    void workEvents();
    void spaceIsReservedBeforeTheBody();
    void failedTransferGivesSpaceBack_data();
    void failedTransferGivesSpaceBack();
    void failingBodyIsBounded_data();
    void failingBodyIsBounded();
    void shortBodyFails_data();
    void shortBodyFails();
    void silenceTimesOut_data();
    void silenceTimesOut();
    void slowButSteadyDoesNotTimeOut_data();
    void slowButSteadyDoesNotTimeOut();
    void tlsIsAuthenticated_data();
    void tlsIsAuthenticated();
    void tlsSendsServerName();
    void onlyHttpAddresses_data();
    void onlyHttpAddresses();
    void lineLength_data();
    void lineLength();
    void socketErrors_data();
    void socketErrors();
    void cookiesAndConnectionCarryOver();
    void textIsDecodedByCharset_data();
    void textIsDecodedByCharset();
    void textBodyIsBounded_data();
    void textBodyIsBounded();
};

void TestHttpClient::requestHeadIsExact_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("target");
    QTest::newRow("settings document") << "/Vantra/DADOSCONEXAO.txt"
                                       << "/Vantra/DADOSCONEXAO.txt";
    QTest::newRow("query kept as written") << "/p/Vantra.zip?v=1&x=%20a"
                                           << "/p/Vantra.zip?v=1&x=%20a";
    QTest::newRow("backslash before the query") << "/p\\Vantra.zip?a\\b"
                                                << "/p/Vantra.zip?a\\b";
    QTest::newRow("dot segments kept") << "/a/../Vantra.zip"
                                       << "/a/../Vantra.zip";
}

void TestHttpClient::requestHeadIsExact() {
    QFETCH(QString, path);
    QFETCH(QString, target);
    // Proxies from the environment are never used.
    qputenv("https_proxy", "http://127.0.0.1:9");
    qputenv("HTTPS_PROXY", "http://127.0.0.1:9");
    qputenv("all_proxy", "http://127.0.0.1:9");
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 200 OK", "x"));
    Client client;
    QCOMPARE(client.http.Get(url(server, "") + path, 1024), QStringLiteral("x"));
    qunsetenv("https_proxy");
    qunsetenv("HTTPS_PROXY");
    qunsetenv("all_proxy");

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 1u);
    const std::string expected = "GET " + target.toStdString() +
                                 " HTTP/1.1\r\n"
                                 "Host: localhost:" +
                                 std::to_string(server.port()) +
                                 "\r\n"
                                 "Accept: text/html, */*\r\n"
                                 "Accept-Encoding: identity\r\n"
                                 "User-Agent: " +
                                 userAgent.toStdString() + "\r\n\r\n";
    QCOMPARE(requests[0].raw, expected);
}

void TestHttpClient::statusDecidesOutcome_data() {
    QTest::addColumn<QString>("response");
    QTest::addColumn<QString>("error"); // empty: success with `text`
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("closeAfter");
    auto row = [](const char* name, const std::string& response, const char* error,
                  const char* text = "", bool closeAfter = false) {
        QTest::newRow(name) << QString::fromLatin1(response) << QString::fromLatin1(error)
                            << QString::fromLatin1(text) << closeAfter;
    };
    row("200", withLength("HTTP/1.1 200 OK", "body"), "", "body");
    row("299", withLength("HTTP/1.1 299 Whatever", "body"), "", "body");
    row("404 with body", withLength("HTTP/1.1 404 Not Found", "<html>gone</html>"),
        "HTTP/1.1 404 Not Found");
    row("404 reason as sent", withLength("HTTP/1.1 404 Nicht  gefunden ", "x"),
        "HTTP/1.1 404 Nicht  gefunden ");
    row("302 not followed",
        withLength("HTTP/1.1 302 Found", "moved", "Location: https://localhost:1/elsewhere\r\n"),
        "HTTP/1.1 302 Found");
    row("301 without Location", withLength("HTTP/1.1 301 Moved Permanently", ""),
        "HTTP/1.1 301 Moved Permanently");
    row("200 with Location", withLength("HTTP/1.1 200 OK", "body", "Location: /x\r\n"),
        "HTTP/1.1 200 OK");
    row("201 with Location", withLength("HTTP/1.1 201 Created", "made", "Location: /x\r\n"), "",
        "made");
    row("200 with empty Location", withLength("HTTP/1.1 200 OK", "body", "Location: \r\n"), "",
        "body");
    row("204", "HTTP/1.1 204 No Content\r\n\r\n", "", "");
    row("304", "HTTP/1.1 304 Not Modified\r\n\r\n", "HTTP/1.1 304 Not Modified");
    row("401", withLength("HTTP/1.1 401 Unauthorized", "no", "WWW-Authenticate: Basic\r\n"),
        "HTTP/1.1 401 Unauthorized");
    row("500", withLength("HTTP/1.1 500 Internal Server Error", "oops"),
        "HTTP/1.1 500 Internal Server Error");
    row("407",
        withLength("HTTP/1.1 407 Proxy Authentication Required", "no",
                   "Proxy-Authenticate: Basic\r\n"),
        "HTTP/1.1 407 Proxy Authentication Required");
    row("101", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: other\r\n\r\nraw",
        "HTTP/1.1 101 Switching Protocols", "", true);
    row("199", "HTTP/1.1 199 Odd\r\n\r\n" + withLength("HTTP/1.1 200 OK", "after"),
        "HTTP/1.1 199 Odd");
    // libcurl refuses these lines itself.
    row("non-numeric code", withLength("HTTP/1.1 abc OK", "x"),
        "The response has an invalid status line.");
    row("code below 100", withLength("HTTP/1.1 099 Low", "x"),
        "The response has an invalid status line.");
    row("four-digit code", withLength("HTTP/1.1 2000 OK", "x"),
        "The response has an invalid status line.");
    row("100 then 200", "HTTP/1.1 100 Continue\r\n\r\n" + withLength("HTTP/1.1 200 OK", "after"),
        "", "after");
    row("102 and 103 then 200",
        "HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" +
            withLength("HTTP/1.1 200 OK", "after"),
        "", "after");
    row("two 100s then 404",
        "HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" +
            withLength("HTTP/1.1 404 Not Found", "x"),
        "HTTP/1.1 404 Not Found");
    row("Content-Length 0", withLength("HTTP/1.1 200 OK", ""), "", "");
    row("chunked",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
            testsupport::chunked("abcdefghij", 3),
        "", "abcdefghij");
    row("chunked with trailer",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n0\r\nX-T: "
        "1\r\n\r\n",
        "", "hello");
    const std::string framedHello = testsupport::chunked("hello", 5);
    row("CHUNKED", "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n" + framedHello, "",
        "hello");
    row("chunked last of two codings",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding:  Chunked \r\n\r\n" +
            framedHello,
        "", "hello");
    // Another coding: libcurl reads to the close, and the bytes arrive as sent.
    row("notchunked left as sent",
        withLength("HTTP/1.1 200 OK", framedHello, "Transfer-Encoding: notchunked\r\n"), "",
        framedHello.c_str(), true);
    row("chunked not last",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n" + framedHello,
        "The response has an unsupported Transfer-Encoding: chunked, gzip");
    // Lengths: a decimal number from 0 to 2^63-1.
    auto lengthRow = [&](const char* name, const char* value, const char* error) {
        row(name, std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value + "\r\n\r\nabc",
            error);
    };
    lengthRow("length 2^64", "18446744073709551616", "The response has an invalid Content-Length.");
    lengthRow("length 2^64+5", "18446744073709551621",
              "The response has an invalid Content-Length.");
    lengthRow("length 2^63", "9223372036854775808", "The response has an invalid Content-Length.");
    lengthRow("length 2^63-1", "9223372036854775807",
              "The response body is larger than 1024 bytes.");
    lengthRow("negative length", "-3", "The response has an invalid Content-Length.");
    lengthRow("length with a sign", "+3", "The response has an invalid Content-Length.");
    lengthRow("length with a tail", "3x", "The response has an invalid Content-Length.");
    lengthRow("empty length", "", "The response has an invalid Content-Length.");
}

void TestHttpClient::statusDecidesOutcome() {
    QFETCH(QString, response);
    QFETCH(QString, error);
    QFETCH(QString, text);
    QFETCH(bool, closeAfter);
    TlsTestServer server;
    server.enqueue(closeAfter ? Script(response.toStdString()).close()
                              : Script(response.toStdString()));
    Client client;
    QString got;
    auto failure = failureOf([&] { got = client.http.Get(url(server, "/doc"), 1024); });
    QCOMPARE(failure.value_or(QString()), error);
    if (error.isEmpty())
        QCOMPARE(got, text);
}

void TestHttpClient::failingBodyNeverReachesTheFile() {
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 404 Not Found", patterned(40000)));
    Client client;
    PackageFile package;
    auto failure = failureOf([&] { client.http.Get(url(server, "/Vantra.zip"), package.file); });
    QCOMPARE(failure.value_or(QString()), QStringLiteral("HTTP/1.1 404 Not Found"));
    QCOMPARE(client.events, QStringList({"begin 40000", "32768", "40000", "end"}));
    QCOMPARE(std::filesystem::file_size(package.path), 0u);
}

void TestHttpClient::workEvents_data() {
    QTest::addColumn<QString>("response");
    QTest::addColumn<QStringList>("events");
    const std::string body = patterned(100000);
    QTest::newRow("Content-Length")
        << QString::fromLatin1(withLength("HTTP/1.1 200 OK", body))
        << QStringList{"begin 100000", "32768", "65536", "98304", "100000", "end"};
    // Ten chunks of 10000: each "2710\r\n" + data + "\r\n", then "0\r\n\r\n": 85 bytes of framing.
    QTest::newRow("chunked") << QString::fromLatin1(
                                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                    testsupport::chunked(body, 10000))
                             << QStringList{"begin 0", "32768", "65536", "98304", "100085", "end"};
    QTest::newRow("until close") << QString::fromLatin1("HTTP/1.1 200 OK\r\n\r\n" + body)
                                 << QStringList{"begin 0", "32768",  "65536",
                                                "98304",   "100000", "end"};
    QTest::newRow("exact blocks") << QString::fromLatin1(
                                         withLength("HTTP/1.1 200 OK", body.substr(0, 65536)))
                                  << QStringList{"begin 65536", "32768", "65536", "end"};
    QTest::newRow("no body") << QString::fromLatin1(withLength("HTTP/1.1 200 OK", ""))
                             << QStringList{};
    QTest::newRow("204") << QStringLiteral("HTTP/1.1 204 No Content\r\n\r\n") << QStringList{};
}

void TestHttpClient::workEvents() {
    QFETCH(QString, response);
    QFETCH(QStringList, events);
    TlsTestServer server;
    std::string raw = response.toStdString();
    bool untilClose = raw.find("Content-Length") == std::string::npos &&
                      raw.find("chunked") == std::string::npos &&
                      raw.find(" 204 ") == std::string::npos;
    server.enqueue(untilClose ? Script(raw).close() : Script(raw));
    Client client;
    PackageFile package;
    client.http.Get(url(server, "/Vantra.zip"), package.file);
    QCOMPARE(client.events, events);
    std::size_t headEnd = raw.find("\r\n\r\n") + 4;
    std::string expected = raw.substr(headEnd);
    if (raw.find("chunked") != std::string::npos)
        expected = patterned(100000);
    QCOMPARE(package.content().size(), expected.size());
    QVERIFY(package.content() == expected);
}

void TestHttpClient::spaceIsReservedBeforeTheBody() {
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 200 OK", patterned(300000)));
    Client client;
    PackageFile package;
    std::uintmax_t sizeAtBegin = 0;
    client.http.OnWorkBegin = [&](TWorkMode, std::int64_t) {
        sizeAtBegin = std::filesystem::file_size(package.path);
    };
    client.http.Get(url(server, "/Vantra.zip"), package.file);
    QCOMPARE(sizeAtBegin, 300000u);
    QCOMPARE(std::filesystem::file_size(package.path), 300000u);
}

void TestHttpClient::failedTransferGivesSpaceBack_data() {
    QTest::addColumn<int>("announcedMiB");
    QTest::addColumn<int>("sentBytes");
    QTest::newRow("reservation larger than the disk") << 64 << 100000;
    QTest::newRow("transfer cut short") << 4 << 100000;
}

void TestHttpClient::failedTransferGivesSpaceBack() {
    QFETCH(int, announcedMiB);
    QFETCH(int, sentBytes);
    SmallExt4 disk(16);
    if (!disk.mounted())
        QSKIP(disk.whyNot().c_str());
    const std::uint64_t freeBefore = disk.freeBytes();
    const auto path = disk.path("Vantra.zip");
    std::optional<QString> failure;
    std::uint64_t freeDuring = 0;
    {
        TlsTestServer server;
        server.enqueue(Script("HTTP/1.1 200 OK\r\nContent-Length: " +
                              std::to_string(std::uint64_t(announcedMiB) << 20) + "\r\n\r\n" +
                              patterned(static_cast<std::size_t>(sentBytes)))
                           .close());
        Client client;
        client.http.OnWork = [&](TWorkMode, std::int64_t) { freeDuring = disk.freeBytes(); };
        platform::File file = platform::File::createExclusive(path);
        failure = failureOf([&] { client.http.Get(url(server, "/Vantra.zip"), file); });
        file.close();
    }
    QVERIFY(failure.has_value());
    if (announcedMiB == 4) {
        QCOMPARE(
            *failure,
            QStringLiteral("Connection closed after %1 of %2 bytes.").arg(sentBytes).arg(4 << 20));
        QVERIFY2(freeDuring + (3 << 20) < freeBefore, "the space was not reserved");
        QCOMPARE(readFile(path), patterned(static_cast<std::size_t>(sentBytes)));
    } else {
        QCOMPARE(std::filesystem::file_size(path), 0u);
    }
    // Only the bytes written keep space, plus a few blocks of bookkeeping.
    QVERIFY2(
        disk.freeBytes() + static_cast<std::uint64_t>(sentBytes) + 65536 >= freeBefore,
        qPrintable(QStringLiteral("%1 of %2 bytes free").arg(disk.freeBytes()).arg(freeBefore)));
}

void TestHttpClient::failingBodyIsBounded_data() {
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<QString>("head");
    QTest::newRow("file, until close") << true << "HTTP/1.1 404 Not Found\r\n\r\n";
    QTest::newRow("file, announced")
        << true << "HTTP/1.1 500 Oops\r\nContent-Length: 10000000000\r\n\r\n";
    QTest::newRow("text, until close") << false << "HTTP/1.1 404 Not Found\r\n\r\n";
}

void TestHttpClient::failingBodyIsBounded() {
    QFETCH(bool, toFile);
    QFETCH(QString, head);
    // 64 MiB and then silence: the client must stop long before either.
    Script script(head.toStdString());
    const std::string block(1 << 20, 'e');
    for (int i = 0; i < 64; ++i)
        script.send(block);
    TlsTestServer server;
    server.enqueue(script.hold());
    Client client;
    std::int64_t mostRead = 0;
    client.http.OnWork = [&](TWorkMode, std::int64_t n) { mostRead = n; };
    PackageFile package;
    auto failure = failureOf([&] {
        if (toFile)
            client.http.Get(url(server, "/Vantra.zip"), package.file);
        else
            client.http.Get(url(server, "/doc"), 1024);
    });
    const QString statusLine = head.left(head.indexOf(QStringLiteral("\r\n")));
    QCOMPARE(failure.value_or(QString()), statusLine);
    QVERIFY2(mostRead > 0 && mostRead <= (1 << 20), qPrintable(QString::number(mostRead)));
    QCOMPARE(package.content(), std::string());
}

void TestHttpClient::shortBodyFails_data() {
    QTest::addColumn<QString>("response");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("bytesKept");
    const std::string half = patterned(50000);
    QTest::newRow("Content-Length")
        << QString::fromLatin1("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + half)
        << "Connection closed after 50000 of 100000 bytes." << 50000;
    QTest::newRow("chunked")
        << QString::fromLatin1("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n186a0\r\n" +
                               half)
        << "Connection closed before the end of the chunked body (50007 bytes received)." << 50000;
}

void TestHttpClient::shortBodyFails() {
    QFETCH(QString, response);
    QFETCH(QString, error);
    QFETCH(int, bytesKept);
    TlsTestServer server;
    server.enqueue(Script(response.toStdString()).close());
    Client client;
    PackageFile package;
    auto failure = failureOf([&] { client.http.Get(url(server, "/Vantra.zip"), package.file); });
    QCOMPARE(failure.value_or(QString()), error);
    QCOMPARE(client.events.last(), QStringLiteral("end"));
    // The bytes received stay; the reserved rest is cut away.
    QCOMPARE(package.content(), patterned(static_cast<std::size_t>(bytesKept)));
}

void TestHttpClient::silenceTimesOut_data() {
    QTest::addColumn<bool>("tlsHandshake"); // false: the TCP listener never answers TLS
    QTest::addColumn<QString>("head");
    QTest::addColumn<int>("bytesKept");
    QTest::newRow("no answer at all") << true << QString() << 0;
    QTest::newRow("stall after the head")
        << true << QStringLiteral("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n") << 0;
    QTest::newRow("stall mid-body")
        << true
        << QStringLiteral("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n") + QString(1000, u'z')
        << 1000;
    QTest::newRow("silent TLS handshake") << false << QString() << 0;
}

void TestHttpClient::silenceTimesOut() {
    QFETCH(bool, tlsHandshake);
    QFETCH(QString, head);
    QFETCH(int, bytesKept);
    std::optional<TlsTestServer> server;
    int listener = -1;
    QString address;
    if (tlsHandshake) {
        server.emplace();
        server->enqueue(Script(head.toStdString()).hold());
        address = url(*server, "/Vantra.zip");
    } else {
        // Accepted by the kernel, never read: the client's hello goes unanswered.
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        QCOMPARE(::listen(listener, 4), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        address = QStringLiteral("https://localhost:%1/Vantra.zip").arg(ntohs(addr.sin_port));
    }
    Client client(1s);
    PackageFile package;
    QElapsedTimer timer;
    timer.start();
    auto failure = failureOf([&] { client.http.Get(address, package.file); });
    QCOMPARE(failure.value_or(QString()), QStringLiteral("Read timed out."));
    QVERIFY2(timer.elapsed() < 15000, "the time-out came far too late");
    QCOMPARE(package.content().size(), static_cast<std::size_t>(bytesKept));
    if (listener >= 0)
        ::close(listener);
}

void TestHttpClient::slowButSteadyDoesNotTimeOut_data() {
    QTest::addColumn<QString>("slowPart");
    QTest::newRow("body") << "body";
    QTest::newRow("header line") << "header";
    QTest::newRow("status line") << "status";
}

void TestHttpClient::slowButSteadyDoesNotTimeOut() {
    QFETCH(QString, slowPart);
    // A byte every 400 ms against a 1 s time-out, up to 2.4 s in all: each byte
    // counts, whether or not it completes a line.
    auto trickle = [](Script& script, const std::string& bytes) {
        for (char c : bytes)
            script.pause(400ms).send(std::string(1, c));
    };
    Script script;
    if (slowPart == "status") {
        trickle(script, "HTTP/1");
        script.send(".1 200 OK\r\nContent-Length: 4\r\n\r\nabcd");
    } else if (slowPart == "header") {
        script.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-Slow: ");
        trickle(script, "sixsix");
        script.send("\r\n\r\nabcd");
    } else {
        script.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
        trickle(script, "abcd");
    }
    TlsTestServer server;
    server.enqueue(script);
    Client client(1s);
    QCOMPARE(client.http.Get(url(server, "/slow"), 100), QStringLiteral("abcd"));
}

void TestHttpClient::tlsIsAuthenticated_data() {
    QTest::addColumn<QString>("certFile");
    QTest::addColumn<QString>("keyFile");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("maxProtocol");
    QTest::addColumn<bool>("useTestCa");
    QTest::addColumn<QString>("detail"); // part of the library's description
    const QString cert = QString::fromUtf8(testsupport::testCertFile());
    const QString key = QString::fromUtf8(testsupport::testKeyFile());
    QTest::newRow("untrusted certificate") << QString::fromUtf8(testsupport::untrustedCertFile())
                                           << QString::fromUtf8(testsupport::untrustedKeyFile())
                                           << "localhost" << 0 << true << "certificate";
    QTest::newRow("wrong host name") << cert << key << "127.0.0.1" << 0 << true << "127.0.0.1";
    QTest::newRow("system roots do not know the test CA")
        << cert << key << "localhost" << 0 << false << "certificate";
    QTest::newRow("TLS 1.1 only") << cert << key << "localhost" << TLS1_1_VERSION << true << "";
}

void TestHttpClient::tlsIsAuthenticated() {
    QFETCH(QString, certFile);
    QFETCH(QString, keyFile);
    QFETCH(QString, host);
    QFETCH(int, maxProtocol);
    QFETCH(bool, useTestCa);
    QFETCH(QString, detail);
    testsupport::ServerOptions options;
    options.certFile = certFile.toStdString();
    options.keyFile = keyFile.toStdString();
    options.maxProtocol = maxProtocol;
    TlsTestServer server(options);
    server.enqueue(withLength("HTTP/1.1 200 OK", "secret"));
    Client client;
    if (!useTestCa)
        client.http.setCaFile({});
    PackageFile package;
    auto failure = failureOf([&] {
        client.http.Get(QString::fromStdString(server.baseUrl(host.toStdString()) + "/Vantra.zip"),
                        package.file);
    });
    QVERIFY(failure.has_value());
    QVERIFY2(failure->startsWith(QStringLiteral("Error connecting with SSL.\r\n")),
             qPrintable(*failure));
    QVERIFY2(failure->contains(detail), qPrintable(*failure));
    QVERIFY(failure->size() > QStringLiteral("Error connecting with SSL.\r\n").size());
    QVERIFY(server.requests().empty());
    QCOMPARE(package.content(), std::string());
}

void TestHttpClient::tlsSendsServerName() {
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 200 OK", "x"));
    Client client;
    client.http.Get(url(server, "/"), 10);
    const auto requests = server.requests();
    QCOMPARE(requests.size(), 1u);
    QCOMPARE(requests[0].serverName, std::string("localhost"));
    QVERIFY(requests[0].protocol == "TLSv1.2" || requests[0].protocol == "TLSv1.3");
}

void TestHttpClient::onlyHttpAddresses_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("no scheme") << "localhost:%1/Vantra.zip";
    QTest::newRow("no scheme, path only") << "/Vantra.zip";
    QTest::newRow("file") << "file:///etc/hostname";
    QTest::newRow("FILE") << "FILE:///etc/hostname";
    QTest::newRow("ftp") << "ftp://localhost:%1/Vantra.zip";
    QTest::newRow("scheme without slashes") << "https:localhost:%1/Vantra.zip";
    QTest::newRow("dict") << "dict://localhost:%1/";
}

void TestHttpClient::onlyHttpAddresses() {
    QFETCH(QString, address);
    TlsTestServer server;
    Client client;
    PackageFile package;
    auto failure = failureOf([&] {
        client.http.Get(
            QString(address).replace(QStringLiteral("%1"), QString::number(server.port())),
            package.file);
    });
    QCOMPARE(failure.value_or(QString()), QStringLiteral("Unknown Protocol"));
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(client.events.isEmpty());
}

void TestHttpClient::lineLength_data() {
    QTest::addColumn<bool>("inStatusLine");
    QTest::addColumn<int>("lengthWithCr");
    QTest::addColumn<bool>("fails");
    QTest::newRow("status line at the limit") << true << 16384 << false;
    QTest::newRow("status line over the limit") << true << 16385 << true;
    QTest::newRow("header line at the limit") << false << 16384 << false;
    QTest::newRow("header line over the limit") << false << 16385 << true;
    QTest::newRow("header line far over the limit") << false << 200000 << true;
}

void TestHttpClient::lineLength() {
    QFETCH(bool, inStatusLine);
    QFETCH(int, lengthWithCr);
    QFETCH(bool, fails);
    std::string response;
    if (inStatusLine) {
        std::string line = "HTTP/1.1 200 O";
        line += std::string(static_cast<std::size_t>(lengthWithCr) - 1 - line.size(), 'K');
        response = withLength(line, "ok");
    } else {
        std::string header = "X-Long: ";
        header += std::string(static_cast<std::size_t>(lengthWithCr) - 1 - header.size(), 'v');
        response = withLength("HTTP/1.1 200 OK", "ok", header + "\r\n");
    }
    TlsTestServer server;
    server.enqueue(response);
    Client client;
    auto failure = failureOf([&] { client.http.Get(url(server, "/"), 10); });
    QCOMPARE(failure.value_or(QString()),
             fails ? QStringLiteral("Max line length exceeded.") : QString());
}

void TestHttpClient::socketErrors_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("error");
    QTest::newRow("host not found") << "host"
                                    << "Socket Error # 11001\r\nHost not found.";
    QTest::newRow("connection refused") << "refused"
                                        << "Socket Error # 10061\r\nConnection refused.";
    QTest::newRow("reset mid-body") << "reset"
                                    << "Socket Error # 10054\r\nConnection reset by peer.";
    QTest::newRow("closed without an answer") << "closed"
                                              << "Connection Closed Gracefully.";
}

void TestHttpClient::socketErrors() {
    QFETCH(QString, situation);
    QFETCH(QString, error);
    TlsTestServer server;
    QString address = url(server, "/Vantra.zip");
    if (situation == "host") {
        address = QStringLiteral("https://vantra-no-such-host.invalid/Vantra.zip");
    } else if (situation == "refused") {
        server.stop(); // the port is free now, and nothing listens on it
    } else if (situation == "reset") {
        server.enqueue(
            Script("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + patterned(20000))
                .pause(200ms)
                .reset());
    } else {
        server.enqueue(Script().close());
    }
    Client client;
    PackageFile package;
    auto failure = failureOf([&] { client.http.Get(address, package.file); });
    QCOMPARE(failure.value_or(QString()), error);
    if (situation == "reset") // the bytes received stay in the file
        QCOMPARE(package.content(), patterned(20000));
}

void TestHttpClient::cookiesAndConnectionCarryOver() {
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 200 OK", "one", "Set-Cookie: sessao=abc; Path=/\r\n"));
    server.enqueue(withLength("HTTP/1.1 200 OK", "two", "Connection: close\r\n"));
    server.enqueue(withLength("HTTP/1.1 200 OK", "three"));
    server.enqueue(withLength("HTTP/1.1 200 OK", "four"));
    Client client;
    QCOMPARE(client.http.Get(url(server, "/1"), 10), QStringLiteral("one"));
    QCOMPARE(client.http.Get(url(server, "/2"), 10), QStringLiteral("two"));
    QCOMPARE(client.http.Get(url(server, "/3"), 10), QStringLiteral("three"));
    client.http.PrepararTls();
    QCOMPARE(client.http.Get(url(server, "/4"), 10), QStringLiteral("four"));

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 4u);
    // Kept alive after the first answer; a new connection after "Connection:
    // close" and after a fresh TLS set-up.
    QCOMPARE(requests[0].connection, 1);
    QCOMPARE(requests[1].connection, 1);
    QCOMPARE(requests[2].connection, 2);
    QCOMPARE(requests[3].connection, 3);
    const std::string host = "Host: localhost:" + std::to_string(server.port()) + "\r\n";
    const std::string rest = "Accept: text/html, */*\r\nAccept-Encoding: identity\r\nUser-Agent: " +
                             userAgent.toStdString() + "\r\n\r\n";
    QCOMPARE(requests[0].raw, "GET /1 HTTP/1.1\r\n" + host + rest);
    for (int i = 1; i < 4; ++i)
        QCOMPARE(requests[i].raw, "GET /" + std::to_string(i + 1) + " HTTP/1.1\r\n" + host +
                                      "Cookie: sessao=abc\r\n" + rest);
}

void TestHttpClient::textIsDecodedByCharset_data() {
    QTest::addColumn<QByteArray>("contentType"); // empty: no header
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::newRow("text/plain without charset")
        << QByteArray("text/plain") << QByteArray("a=caf\xe9#") << QStringLiteral("a=café#");
    QTest::newRow("utf-8") << QByteArray("text/plain; charset=utf-8")
                           << QByteArray("a=caf\xc3\xa9#") << QStringLiteral("a=café#");
    QTest::newRow("no Content-Type") << QByteArray() << QByteArray("\xe9") << QStringLiteral("é");
}

void TestHttpClient::textIsDecodedByCharset() {
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    std::string headers = contentType.isEmpty()
                              ? std::string()
                              : "Content-Type: " + contentType.toStdString() + "\r\n";
    TlsTestServer server;
    server.enqueue(withLength("HTTP/1.1 200 OK", body.toStdString(), headers));
    Client client;
    QCOMPARE(client.http.Get(url(server, "/Vantra/DADOSCONEXAO.txt"), 1024), text);
}

void TestHttpClient::textBodyIsBounded_data() {
    QTest::addColumn<QString>("framing");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("fails");
    QTest::newRow("at the limit") << "length" << 1048576 << false;
    QTest::newRow("announced over the limit") << "length" << 1048577 << true;
    QTest::newRow("chunked over the limit") << "chunked" << 1048577 << true;
    QTest::newRow("until close over the limit") << "close" << 1048577 << true;
}

void TestHttpClient::textBodyIsBounded() {
    QFETCH(QString, framing);
    QFETCH(int, size);
    QFETCH(bool, fails);
    const std::string body(static_cast<std::size_t>(size), 'x');
    TlsTestServer server;
    if (framing == "length")
        server.enqueue(withLength("HTTP/1.1 200 OK", body));
    else if (framing == "chunked")
        server.enqueue("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       testsupport::chunked(body, 65536));
    else
        server.enqueue(Script("HTTP/1.1 200 OK\r\n\r\n" + body).close());
    Client client;
    QString text;
    auto failure = failureOf([&] { text = client.http.Get(url(server, "/doc"), 1048576); });
    QCOMPARE(failure.value_or(QString()),
             fails ? QStringLiteral("The response body is larger than 1048576 bytes.") : QString());
    if (!fails)
        QCOMPARE(text.size(), size);
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
