#pragma once

// What the download tests share: a Product directory, the loopback file server
// at the test configuration's address, raw answers and the request heads the
// updater must send.

#include "TlsTestServer.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace downloadtest {

namespace fs = std::filesystem;

inline const std::string userAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0";
inline const QString downloadFailed =
    QStringLiteral("Não foi possível realizar o download do aplicativo!");
inline const std::string packagePath = "/pacotes/Vantra.zip";

inline std::string patterned(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return s;
}

inline std::string withLength(const std::string& statusLine, const std::string& body,
                              const std::string& headers = {}) {
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
           "\r\n" + body;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string packageAddress(const std::string& scheme = "https",
                                  std::uint16_t port = testsupport::fixedTestPort) {
    return scheme + "://localhost:" + std::to_string(port) + packagePath;
}

inline std::string settingsDocument(const std::string& address = packageAddress()) {
    return withLength("HTTP/1.1 200 OK", "servidor=x#\r\nexecutavelvantra=" + address + "#\r\n",
                      "Content-Type: text/plain\r\n");
}

inline std::string requestHead(const std::string& target, const std::string& cookie = {},
                               std::uint16_t port = testsupport::fixedTestPort) {
    return "GET " + target + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n" +
           (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") +
           "Accept: text/html, */*\r\nAccept-Encoding: identity\r\nUser-Agent: " + userAgent +
           "\r\n\r\n";
}

inline std::unique_ptr<testsupport::TlsTestServer> fileServer() {
    testsupport::ServerOptions options;
    options.port = testsupport::fixedTestPort;
    return std::make_unique<testsupport::TlsTestServer>(options);
}

inline std::unique_ptr<testsupport::TlsTestServer> plainServer() {
    testsupport::ServerOptions options;
    options.tls = false;
    return std::make_unique<testsupport::TlsTestServer>(options);
}

// A Product directory, named as the updater names it: with its trailing separator.
struct ProductDirectory {
    QTemporaryDir temp;
    fs::path dir{temp.path().toStdString()};
    QString caminho = temp.path() + QDir::separator();
    fs::path exe = dir / "Vantra.exe";
    fs::path old = dir / "Vantra_old.exe";
    fs::path zip = dir / "Vantra.zip";
};

} // namespace downloadtest
