#pragma once

// A loopback HTTPS (or plain HTTP) server for tests: it plays scripted raw
// answers, one per request, records every request head byte for byte, and can
// serve the files of a directory. Each connection runs on a thread of its own.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// The test PKI and port, as the build made them.
inline const char* testCaFile() {
    return VANTRA_TEST_CA_FILE;
}
inline const char* testCertFile() {
    return VANTRA_TEST_CERT_FILE;
}
inline const char* testKeyFile() {
    return VANTRA_TEST_KEY_FILE;
}
inline const char* untrustedCertFile() {
    return VANTRA_TEST_UNTRUSTED_CERT_FILE;
}
inline const char* untrustedKeyFile() {
    return VANTRA_TEST_UNTRUSTED_KEY_FILE;
}
constexpr std::uint16_t fixedTestPort = VANTRA_TEST_PORT;

// What the server does for one request, step by step. When the steps are done
// the connection waits for the next request unless a step ended it.
class Script {
public:
    struct Step {
        enum class Kind { Send, Pause, Close, Reset, Hold };
        Kind kind;
        std::string bytes;
        std::chrono::milliseconds duration{0};
    };

    Script() = default;
    // The common case: one raw answer sent as one block.
    Script(std::string raw) { send(std::move(raw)); } // NOLINT: implicit on purpose

    Script& send(std::string bytes);
    // Silence on the connection (cut short when the server stops).
    Script& pause(std::chrono::milliseconds duration);
    // Orderly end: TLS close_notify, then FIN.
    Script& close();
    // Abortive end: RST, no close_notify.
    Script& reset();
    // Silence until the server stops.
    Script& hold();

    const std::vector<Step>& steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

// "size CRLF data CRLF" per chunk of at most `chunkSize` bytes, then "0 CRLF CRLF".
std::string chunked(const std::string& body, std::size_t chunkSize);

struct RecordedRequest {
    std::string raw;        // the request head as received, up to and including the empty line
    int connection = 0;     // 1 for the first accepted connection, 2 for the next, ...
    std::string serverName; // SNI sent by the client, empty when none
    std::string protocol;   // negotiated TLS version ("TLSv1.3"), empty for plain HTTP
};

struct ServerOptions {
    bool tls = true;
    std::string certFile = testCertFile();
    std::string keyFile = testKeyFile();
    std::uint16_t port = 0; // 0: an ephemeral port
    int maxProtocol = 0;    // e.g. TLS1_1_VERSION to offer only old TLS; 0: library default
};

class TlsTestServer {
public:
    explicit TlsTestServer(ServerOptions options = {});
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "https://localhost:port" (or http://)
    std::string baseUrl(const std::string& host = "localhost") const;

    // Answers, played in order, one per request. With none left, requests go
    // to the served directory, or the connection is closed.
    void enqueue(Script script);
    // Serves GET /path from `root` with Content-Length; 404 for what is missing.
    void serveDirectory(std::filesystem::path root, std::string setCookie = {});
    // Called with each request line (without its line break), on the connection's thread.
    void onRequestLine(std::function<void(const std::string&)> log);

    std::vector<RecordedRequest> requests() const;
    int connectionCount() const;
    int failedHandshakes() const;

    // Ends every connection and joins every thread. Idempotent.
    void stop();

private:
    struct Shared;
    void acceptLoop();
    void serveConnection(int fd, int connection);

    ServerOptions options_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    std::shared_ptr<Shared> shared_;
    std::thread acceptThread_;
};

} // namespace testsupport
