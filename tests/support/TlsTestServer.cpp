#include "TlsTestServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>

namespace testsupport {

Script& Script::send(std::string bytes) {
    steps_.push_back({Step::Kind::Send, std::move(bytes), {}});
    return *this;
}
Script& Script::pause(std::chrono::milliseconds duration) {
    steps_.push_back({Step::Kind::Pause, {}, duration});
    return *this;
}
Script& Script::close() {
    steps_.push_back({Step::Kind::Close, {}, {}});
    return *this;
}
Script& Script::reset() {
    steps_.push_back({Step::Kind::Reset, {}, {}});
    return *this;
}
Script& Script::hold() {
    steps_.push_back({Step::Kind::Hold, {}, {}});
    return *this;
}

std::string chunked(const std::string& body, std::size_t chunkSize) {
    std::string out;
    char size[32];
    for (std::size_t at = 0; at < body.size(); at += chunkSize) {
        std::size_t n = std::min(chunkSize, body.size() - at);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, at, n);
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

struct TlsTestServer::Shared {
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::deque<Script> scripts;
    std::filesystem::path root;
    std::string setCookie;
    std::function<void(const std::string&)> log;
    std::vector<RecordedRequest> requests;
    std::set<int> openFds;
    std::vector<std::thread> threads;
    int connections = 0;
    int failedHandshakes = 0;
    SSL_CTX* ctx = nullptr;

    // Sleeps, cut short by stop(). False when stopping.
    bool waitFor(std::chrono::milliseconds duration) {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, duration, [&] { return stopping; });
        return !stopping;
    }
    void waitForStop() {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return stopping; });
    }
};

namespace {

std::string sslErrors() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text += buf;
        text += "; ";
    }
    return text;
}

// One accepted connection, with or without TLS.
class Connection {
public:
    Connection(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}

    // Bytes read, 0 at the end of the stream or on error.
    int readSome(char* buf, int size) {
        if (ssl_)
            return std::max(0, SSL_read(ssl_, buf, size));
        for (;;) {
            ssize_t n = ::recv(fd_, buf, static_cast<size_t>(size), 0);
            if (n < 0 && errno == EINTR)
                continue;
            return n < 0 ? 0 : static_cast<int>(n);
        }
    }

    bool writeAll(const char* data, std::size_t size) {
        while (size > 0) {
            int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
            int n;
            if (ssl_) {
                n = SSL_write(ssl_, data, chunk);
            } else {
                n = static_cast<int>(::send(fd_, data, static_cast<size_t>(chunk), MSG_NOSIGNAL));
                if (n < 0 && errno == EINTR)
                    continue;
            }
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool writeAll(const std::string& s) { return writeAll(s.data(), s.size()); }

    void closeOrderly() {
        if (ssl_)
            SSL_shutdown(ssl_);
        ::shutdown(fd_, SHUT_WR);
    }
    void reset() {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        if (ssl_)
            SSL_set_quiet_shutdown(ssl_, 1);
    }

private:
    int fd_;
    SSL* ssl_;
};

const char* contentTypeFor(const std::filesystem::path& file) {
    auto ext = file.extension().string();
    if (ext == ".txt")
        return "text/plain";
    if (ext == ".zip")
        return "application/zip";
    return "application/octet-stream";
}

bool hasConnectionClose(const std::string& head) {
    std::string lower;
    for (char c : head)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("\r\nconnection: close\r\n") != std::string::npos;
}

// Serves one GET from the directory. False when the connection must end.
bool serveFile(Connection& conn, const std::filesystem::path& root, const std::string& setCookie,
               const std::string& head) {
    std::string line = head.substr(0, head.find("\r\n"));
    std::string target;
    auto sp1 = line.find(' ');
    auto sp2 = line.find(' ', sp1 + 1);
    if (sp1 != std::string::npos && sp2 != std::string::npos)
        target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    target = target.substr(0, target.find('?'));

    std::filesystem::path file;
    bool safe = !target.empty() && target[0] == '/';
    for (const auto& part : std::filesystem::path(target).relative_path())
        if (part == "..")
            safe = false;
    if (safe)
        file = root / std::filesystem::path(target).relative_path();

    int fd = -1;
    struct stat st {};
    if (safe && line.rfind("GET ", 0) == 0) {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
    }
    bool closeAfter = hasConnectionClose(head);
    std::string extra = closeAfter ? "Connection: close\r\n" : "";
    if (fd < 0) {
        return conn.writeAll("HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n"
                             "Content-Length: 10\r\n" +
                             extra + "\r\nNot Found\n") &&
               !closeAfter;
    }
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(contentTypeFor(file)) +
                        "\r\nContent-Length: " + std::to_string(st.st_size) + "\r\n" + extra;
    if (!setCookie.empty())
        reply += "Set-Cookie: " + setCookie + "\r\n";
    reply += "\r\n";
    bool ok = conn.writeAll(reply);
    std::vector<char> buf(256 * 1024);
    for (off_t left = st.st_size; ok && left > 0;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n <= 0) {
            ok = false;
            break;
        }
        ok = conn.writeAll(buf.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    ::close(fd);
    return ok && !closeAfter;
}

} // namespace

TlsTestServer::TlsTestServer(ServerOptions options)
    : options_(std::move(options)), shared_(std::make_shared<Shared>()) {
    // A client that hangs up mid-answer must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);

    if (options_.tls) {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx)
            throw std::runtime_error("SSL_CTX_new: " + sslErrors());
        shared_->ctx = ctx;
        if (options_.maxProtocol) {
            SSL_CTX_set_security_level(ctx, 0);
            SSL_CTX_set_cipher_list(ctx, "ALL:@SECLEVEL=0");
            SSL_CTX_set_min_proto_version(ctx, 0);
            SSL_CTX_set_max_proto_version(ctx, options_.maxProtocol);
        }
        if (SSL_CTX_use_certificate_chain_file(ctx, options_.certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, options_.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("cannot load " + options_.certFile + ": " + sslErrors());
    }

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(options_.port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        int code = errno;
        ::close(listenFd_);
        if (shared_->ctx)
            SSL_CTX_free(shared_->ctx);
        throw std::runtime_error("cannot listen on port " + std::to_string(options_.port) + ": " +
                                 std::strerror(code));
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TlsTestServer::~TlsTestServer() {
    stop();
    if (shared_->ctx)
        SSL_CTX_free(shared_->ctx);
}

std::string TlsTestServer::baseUrl(const std::string& host) const {
    return std::string(options_.tls ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

void TlsTestServer::enqueue(Script script) {
    std::lock_guard lock(shared_->mutex);
    shared_->scripts.push_back(std::move(script));
}

void TlsTestServer::serveDirectory(std::filesystem::path root, std::string setCookie) {
    std::lock_guard lock(shared_->mutex);
    shared_->root = std::move(root);
    shared_->setCookie = std::move(setCookie);
}

void TlsTestServer::onRequestLine(std::function<void(const std::string&)> log) {
    std::lock_guard lock(shared_->mutex);
    shared_->log = std::move(log);
}

std::vector<RecordedRequest> TlsTestServer::requests() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->requests;
}

int TlsTestServer::connectionCount() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->connections;
}

int TlsTestServer::failedHandshakes() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->failedHandshakes;
}

void TlsTestServer::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(shared_->mutex);
        if (listenFd_ < 0)
            return;
        shared_->stopping = true;
        ::shutdown(listenFd_, SHUT_RDWR); // wakes accept()
        for (int fd : shared_->openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    shared_->wake.notify_all();
    acceptThread_.join();
    {
        std::lock_guard lock(shared_->mutex);
        threads.swap(shared_->threads);
    }
    for (auto& t : threads)
        t.join();
    ::close(listenFd_);
    listenFd_ = -1;
}

void TlsTestServer::acceptLoop() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopping) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        shared_->openFds.insert(fd);
        int connection = ++shared_->connections;
        shared_->threads.emplace_back([this, fd, connection] { serveConnection(fd, connection); });
    }
}

void TlsTestServer::serveConnection(int fd, int connection) {
    Shared& s = *shared_;
    SSL* ssl = nullptr;
    std::string serverName, protocol;
    bool open = true;
    if (s.ctx) {
        ssl = SSL_new(s.ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            ERR_clear_error();
            std::lock_guard lock(s.mutex);
            ++s.failedHandshakes;
            open = false;
        } else {
            if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name))
                serverName = name;
            protocol = SSL_get_version(ssl);
        }
    }
    Connection conn(fd, ssl);
    std::string buffer;
    while (open) {
        std::size_t end;
        while (open && (end = buffer.find("\r\n\r\n")) == std::string::npos) {
            char tmp[16384];
            int n = conn.readSome(tmp, sizeof tmp);
            if (n <= 0 || buffer.size() > (1u << 20))
                open = false;
            else
                buffer.append(tmp, static_cast<std::size_t>(n));
        }
        if (!open)
            break;
        std::string head = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);

        Script script;
        bool scripted = false;
        std::filesystem::path root;
        std::string setCookie;
        std::function<void(const std::string&)> log;
        {
            std::lock_guard lock(s.mutex);
            s.requests.push_back({head, connection, serverName, protocol});
            if (!s.scripts.empty()) {
                script = std::move(s.scripts.front());
                s.scripts.pop_front();
                scripted = true;
            }
            root = s.root;
            setCookie = s.setCookie;
            log = s.log;
        }
        if (log)
            log(head.substr(0, head.find("\r\n")));

        if (!scripted) {
            open = !root.empty() && serveFile(conn, root, setCookie, head);
            if (!open && !root.empty())
                conn.closeOrderly();
            continue;
        }
        for (const auto& step : script.steps()) {
            using Kind = Script::Step::Kind;
            if (step.kind == Kind::Send)
                open = conn.writeAll(step.bytes);
            else if (step.kind == Kind::Pause)
                open = s.waitFor(step.duration);
            else if (step.kind == Kind::Hold) {
                s.waitForStop();
                open = false;
            } else if (step.kind == Kind::Close) {
                conn.closeOrderly();
                open = false;
            } else if (step.kind == Kind::Reset) {
                conn.reset();
                open = false;
            }
            if (!open)
                break;
        }
    }
    {
        std::lock_guard lock(s.mutex);
        s.openFds.erase(fd);
    }
    if (ssl)
        SSL_free(ssl);
    ::close(fd);
}

} // namespace testsupport
