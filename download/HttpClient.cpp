#include "HttpClient.h"

#include "BodyText.h"
#include "ChunkedDecoder.h"
#include "ExceptionQt.h"
#include "TransferErrors.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The body is written and reported in blocks of this size (libcurl hands over less).
constexpr std::size_t blockSize = 32768;
// Longest status or header line, its carriage return counted.
constexpr std::size_t maxLineLength = 16384;
// Most of a failing response's body that is read before the exchange fails:
// an endless error page must not keep the client reading.
constexpr std::uint64_t maxFailingBody = 1 << 20;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Only absolute http and https addresses: libcurl would otherwise guess a
// scheme for "host/path" or read "file:" addresses.
bool hasHttpScheme(const std::string& address) {
    auto sep = address.find("://");
    if (sep == std::string::npos)
        return false;
    std::string_view scheme(address.data(), sep);
    return equalsAsciiNoCase(scheme, "http") || equalsAsciiNoCase(scheme, "https");
}

// The address as written, with a backslash before the query turned into "/".
std::string requestAddress(const QString& address) {
    std::string url = address.toUtf8().toStdString();
    auto query = url.find('?');
    for (std::size_t i = 0; i < url.size() && i < query; ++i)
        if (url[i] == '\\')
            url[i] = '/';
    return url;
}

// The second space-separated field as a decimal number; -1 when it is not one.
int statusCodeOf(std::string_view line) {
    auto sp = line.find(' ');
    if (sp == std::string_view::npos)
        return -1;
    std::string_view field = line.substr(sp + 1);
    field = field.substr(0, field.find(' '));
    if (field.empty() || field.size() > 9)
        return -1;
    int code = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return -1;
        code = code * 10 + (c - '0');
    }
    return code;
}

// A Content-Length value: a decimal number from 0 to 2^63-1, nothing else.
std::optional<std::uint64_t> parseContentLength(std::string_view value) {
    constexpr std::uint64_t max = std::numeric_limits<std::int64_t>::max();
    if (value.empty())
        return std::nullopt;
    std::uint64_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (length > (max - digit) / 10)
            return std::nullopt;
        length = length * 10 + digit;
    }
    return length;
}

// Appends the comma-separated codings of one Transfer-Encoding line, lowered.
void appendCodings(std::string_view value, std::vector<std::string>& codings) {
    while (!value.empty()) {
        auto comma = value.find(',');
        std::string_view coding = trimmed(value.substr(0, comma));
        if (!coding.empty()) {
            std::string lower(coding);
            for (char& c : lower)
                c = asciiLower(c);
            codings.push_back(std::move(lower));
        }
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
}

const QString invalidContentLength = QStringLiteral("The response has an invalid Content-Length.");

// Where the TLS library has no roots of its own, the system's store is the
// default; a CA file replaces it.
void useSystemStore(CURL* curl, bool use) {
    if (platform::tlsRootsFromSystemStore())
        curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, use ? long(CURLSSLOPT_NATIVE_CA) : 0L);
}

struct CurlSlist {
    curl_slist* list = nullptr;
    ~CurlSlist() { curl_slist_free_all(list); }
    void append(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

// Where the body of a successful response goes.
class BodyTarget {
public:
    virtual ~BodyTarget() = default;
    // `announcedLength`: the Content-Length, 0 when none is announced.
    virtual void begin(std::uint64_t announcedLength) = 0;
    virtual void write(const char* data, std::size_t size) = 0;
    // The body ended, completely or not.
    virtual void finish() = 0;
};

class TextTarget final : public BodyTarget {
public:
    explicit TextTarget(std::uint64_t maxBytes) : maxBytes_(maxBytes) {}
    void begin(std::uint64_t announcedLength) override {
        if (announcedLength > maxBytes_)
            throw tooLarge();
    }
    void write(const char* data, std::size_t size) override {
        if (bytes_.size() + size > maxBytes_)
            throw tooLarge();
        bytes_.append(data, static_cast<qsizetype>(size));
    }
    void finish() override {}
    const QByteArray& bytes() const { return bytes_; }

private:
    Exception tooLarge() const {
        return erro(QStringLiteral("The response body is larger than %1 bytes.").arg(maxBytes_));
    }
    std::uint64_t maxBytes_;
    QByteArray bytes_;
};

class FileTarget final : public BodyTarget {
public:
    explicit FileTarget(platform::File& file) : file_(file) {}
    void begin(std::uint64_t announcedLength) override {
        file_.seek(0);
        // Claims the space first, so that a full disk fails before the transfer.
        // Some file systems keep what a failed reservation got: give it back.
        if (announcedLength > 0) {
            try {
                file_.reserve(announcedLength);
            } catch (...) {
                try {
                    file_.truncate(0);
                } catch (...) {
                }
                throw;
            }
        }
    }
    void write(const char* data, std::size_t size) override {
        file_.write(data, size);
        written_ += size;
    }
    void finish() override { file_.truncate(written_); }

private:
    platform::File& file_;
    std::uint64_t written_ = 0;
};

} // namespace

struct HttpClient::Impl {
    CURL* curl = nullptr;
    std::chrono::milliseconds readTimeout;
    std::string caFile;
    std::string defaultCaFile, defaultCaPath;
    bool freshConnection = true;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // The handle's open connections, so that the read time-out can see bytes
    // arrive below TLS and before a header line is complete.
    std::vector<curl_socket_t> sockets;

    static int onSocketOpened(void* self, curl_socket_t socket, curlsocktype) {
        static_cast<Impl*>(self)->sockets.push_back(socket);
        return CURL_SOCKOPT_OK;
    }
    static int onSocketClosing(void* self, curl_socket_t socket) {
        auto& open = static_cast<Impl*>(self)->sockets;
        open.erase(std::remove(open.begin(), open.end(), socket), open.end());
        platform::closeSocket(static_cast<std::intptr_t>(socket));
        return 0;
    }
    // Bytes received on all open connections; nothing when the system cannot tell.
    std::optional<std::uint64_t> bytesReceived() const {
        std::uint64_t total = 0;
        for (curl_socket_t socket : sockets) {
            auto n = platform::tcpBytesReceived(static_cast<std::intptr_t>(socket));
            if (!n)
                return std::nullopt;
            total += *n;
        }
        return total;
    }
};

// One GET: the response's head as our rules read it, the body in blocks, the
// work events, and the outcome.
class HttpClient::Exchange {
public:
    Exchange(HttpClient& client, BodyTarget& target)
        : client_(client), impl_(*client.impl_), target_(target), block_(blockSize) {}

    void run(const QString& address);
    const std::string& contentType() const { return contentType_; }

private:
    static size_t headerCallback(char* data, size_t size, size_t count, void* self);
    static size_t writeCallback(char* data, size_t size, size_t count, void* self);
    static int progressCallback(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int prereqCallback(void* self, char*, char*, int, int);
    static CURLcode tlsContextCallback(CURL*, void* sslContext, void* self);

    void onHeaderLine(std::string_view raw);
    void onEndOfHead();
    void onBody(const char* data, std::size_t size);
    void flushBlock();
    void finishBody();
    bool withinReadTimeout();
    template <typename F> bool guarded(F&& f);

    HttpClient& client_;
    Impl& impl_;
    BodyTarget& target_;

    // the response being read
    bool inHead_ = false;
    int status_ = -1;
    std::string statusLine_;
    std::string location_;
    std::string contentType_;
    std::optional<std::uint64_t> contentLength_;
    std::vector<std::string> transferCodings_;
    bool chunked_ = false;
    bool decided_ = false;
    bool failing_ = false;
    bool failingBodyCut_ = false;

    // its body
    bool targetBegun_ = false;
    bool inBody_ = false;
    ChunkedDecoder decoder_;
    std::vector<char> block_;
    std::size_t fill_ = 0;
    std::uint64_t taken_ = 0; // bytes taken from the connection, framing included

    Clock::time_point start_, lastActivity_;
    std::optional<std::uint64_t> lastBytesReceived_;
    bool requestReady_ = false;
    std::optional<Clock::time_point> tlsStarted_;
    bool timedOut_ = false;
    std::exception_ptr error_;
};

template <typename F> bool HttpClient::Exchange::guarded(F&& f) {
    try {
        f();
        return true;
    } catch (...) {
        if (!error_)
            error_ = std::current_exception();
        return false;
    }
}

size_t HttpClient::Exchange::headerCallback(char* data, size_t size, size_t count, void* self) {
    auto* ex = static_cast<Exchange*>(self);
    return ex->guarded([&] { ex->onHeaderLine({data, size * count}); }) ? size * count : 0;
}

size_t HttpClient::Exchange::writeCallback(char* data, size_t size, size_t count, void* self) {
    auto* ex = static_cast<Exchange*>(self);
    return ex->guarded([&] { ex->onBody(data, size * count); }) ? size * count : 0;
}

int HttpClient::Exchange::progressCallback(void* self, curl_off_t, curl_off_t, curl_off_t,
                                           curl_off_t) {
    return static_cast<Exchange*>(self)->withinReadTimeout() ? 0 : 1;
}

int HttpClient::Exchange::prereqCallback(void* self, char*, char*, int, int) {
    auto* ex = static_cast<Exchange*>(self);
    ex->requestReady_ = true;
    ex->lastActivity_ = Clock::now();
    return CURL_PREREQFUNC_OK;
}

// Called when the TCP connection stands and the TLS handshake is about to begin.
CURLcode HttpClient::Exchange::tlsContextCallback(CURL*, void*, void* self) {
    static_cast<Exchange*>(self)->tlsStarted_ = Clock::now();
    return CURLE_OK;
}

bool HttpClient::Exchange::withinReadTimeout() {
    // Any byte counts, also one that completes no header line yet.
    auto received = impl_.bytesReceived();
    if (received && received != lastBytesReceived_) {
        if (lastBytesReceived_)
            lastActivity_ = Clock::now();
        lastBytesReceived_ = received;
    }
    Clock::time_point since;
    if (requestReady_) {
        since = lastActivity_;
    } else {
        // Still connecting: the system's connect time-out rules until the TCP
        // connection stands; from then on a silent TLS handshake counts too.
        if (!tlsStarted_)
            return true;
        since = std::max(*tlsStarted_, lastActivity_);
    }
    if (Clock::now() - since <= impl_.readTimeout)
        return true;
    timedOut_ = true;
    return false;
}

void HttpClient::Exchange::onHeaderLine(std::string_view raw) {
    lastActivity_ = Clock::now();
    if (inBody_ || decided_)
        return; // trailers
    std::string_view line = raw;
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (line.size() > maxLineLength)
        throw erro(QStringLiteral("Max line length exceeded."));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);

    if (!inHead_) {
        inHead_ = true;
        statusLine_ = line;
        status_ = statusCodeOf(line);
        location_.clear();
        contentType_.clear();
        contentLength_.reset();
        transferCodings_.clear();
        chunked_ = false;
        return;
    }
    if (line.empty()) {
        inHead_ = false;
        // Interim answers, the real one follows; 103 Early Hints comes before a sound 200.
        if (status_ == 100 || status_ == 102 || status_ == 103)
            return;
        onEndOfHead();
        return;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    std::string_view name = trimmed(line.substr(0, colon));
    std::string_view value = trimmed(line.substr(colon + 1));
    if (equalsAsciiNoCase(name, "Location")) {
        location_ = value;
    } else if (equalsAsciiNoCase(name, "Content-Type")) {
        contentType_ = value;
    } else if (equalsAsciiNoCase(name, "Content-Length")) {
        // One that wrapped would frame the body differently from the connection.
        contentLength_ = parseContentLength(value);
        if (!contentLength_)
            throw erro(invalidContentLength);
    } else if (equalsAsciiNoCase(name, "Transfer-Encoding")) {
        appendCodings(value, transferCodings_);
        chunked_ = !transferCodings_.empty() && transferCodings_.back() == "chunked";
    }
}

void HttpClient::Exchange::onEndOfHead() {
    decided_ = true;
    // libcurl frames by chunks when any coding is chunked; a chunked coding
    // that is not the last leaves no framing both sides agree on.
    if (!chunked_ && std::find(transferCodings_.begin(), transferCodings_.end(), "chunked") !=
                         transferCodings_.end()) {
        std::string all;
        for (const auto& coding : transferCodings_)
            all += (all.empty() ? "" : ", ") + coding;
        throw erro(QStringLiteral("The response has an unsupported Transfer-Encoding: %1")
                       .arg(QString::fromLatin1(all.data(), static_cast<qsizetype>(all.size()))));
    }
    int c = status_;
    bool redirect = (c >= 300 && c <= 399 && c != 304) || (!location_.empty() && c != 201);
    failing_ = redirect || c < 200 || c > 299;

    bool bodyless = c == 204 || c == 304 || (!chunked_ && contentLength_ && *contentLength_ == 0);
    std::uint64_t announced = (!chunked_ && contentLength_) ? *contentLength_ : 0;
    if (!failing_) {
        target_.begin(bodyless ? 0 : announced);
        targetBegun_ = true;
    }
    if (bodyless)
        return;
    inBody_ = true;
    if (client_.OnWorkBegin)
        client_.OnWorkBegin(TWorkMode::wmRead, static_cast<std::int64_t>(announced));
}

void HttpClient::Exchange::onBody(const char* data, std::size_t size) {
    lastActivity_ = Clock::now();
    if (!inBody_)
        return;
    if (failing_ && taken_ + fill_ + size > maxFailingBody) {
        failingBodyCut_ = true;
        throw std::runtime_error("failing body cut"); // ends the transfer; the status decides
    }
    while (size > 0) {
        std::size_t n = std::min(size, blockSize - fill_);
        std::copy(data, data + n, block_.data() + fill_);
        fill_ += n;
        data += n;
        size -= n;
        if (fill_ == blockSize)
            flushBlock();
    }
}

void HttpClient::Exchange::flushBlock() {
    if (fill_ == 0)
        return;
    auto deliver = [this](const char* data, std::size_t size) {
        if (!failing_) // a failing response's body is read and dropped
            target_.write(data, size);
    };
    if (chunked_)
        decoder_.feed(block_.data(), fill_, deliver);
    else
        deliver(block_.data(), fill_);
    taken_ += fill_;
    fill_ = 0;
    if (client_.OnWork)
        client_.OnWork(TWorkMode::wmRead, static_cast<std::int64_t>(taken_));
}

void HttpClient::Exchange::finishBody() {
    if (inBody_) {
        inBody_ = false;
        if (!error_)
            guarded([&] { flushBlock(); });
    }
    if (targetBegun_) {
        targetBegun_ = false;
        guarded([&] { target_.finish(); });
    }
}

void HttpClient::Exchange::run(const QString& address) {
    std::string url = requestAddress(address);
    if (!hasHttpScheme(url))
        throw erro(QStringLiteral("Unknown Protocol"));

    CURL* curl = impl_.curl;
    CurlSlist headers;
    // Replacing curl's own Accept; with these, the head holds nothing else.
    headers.append("Accept: text/html, */*");
    headers.append("Accept-Encoding: identity");
    if (!client_.UserAgent.isEmpty())
        headers.append("User-Agent: " + client_.UserAgent.toStdString());

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Exchange::headerCallback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Exchange::writeCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Exchange::progressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, &Exchange::prereqCallback);
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &Exchange::tlsContextCallback);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, impl_.freshConnection ? 1L : 0L);
    impl_.errorBuffer[0] = '\0';

    start_ = lastActivity_ = Clock::now();
    CURLcode rc = curl_easy_perform(curl);
    impl_.freshConnection = false;
    bool sawWorkBegin = inBody_;
    finishBody();
    if (sawWorkBegin && client_.OnWorkEnd)
        guarded([&] { client_.OnWorkEnd(TWorkMode::wmRead); });
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);

    if (error_ && !failingBodyCut_)
        std::rethrow_exception(error_);
    if (timedOut_)
        throw erro(QStringLiteral("Read timed out."));
    if (decided_ && failing_ && (rc == CURLE_OK || rc == CURLE_PARTIAL_FILE || failingBodyCut_))
        throw erro(
            QString::fromLatin1(statusLine_.data(), static_cast<qsizetype>(statusLine_.size())));
    if (rc == CURLE_PARTIAL_FILE) {
        std::uint64_t received = taken_;
        if (contentLength_ && !chunked_)
            throw erro(QStringLiteral("Connection closed after %1 of %2 bytes.")
                           .arg(received)
                           .arg(*contentLength_));
        throw erro(QStringLiteral("Connection closed before the end of the chunked body "
                                  "(%1 bytes received).")
                       .arg(received));
    }
    // libcurl refuses a head line of 100 KiB itself, before it reaches us.
    if (rc == CURLE_OUT_OF_MEMORY && !decided_)
        throw erro(QStringLiteral("Max line length exceeded."));
    // libcurl refuses some lines itself, before they reach us.
    if (rc == CURLE_WEIRD_SERVER_REPLY && std::strstr(impl_.errorBuffer, "Content-Length"))
        throw erro(invalidContentLength);
    if (rc == CURLE_UNSUPPORTED_PROTOCOL && requestReady_ && statusLine_.empty())
        throw erro(QStringLiteral("The response has an invalid status line."));
    if (rc != CURLE_OK) {
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        throw erro(transferFailureMessage(rc, osError, impl_.errorBuffer));
    }
    if (!decided_)
        throw erro(QStringLiteral("Connection Closed Gracefully."));
}

HttpClient::HttpClient(std::chrono::milliseconds readTimeout) : impl_(std::make_unique<Impl>()) {
    initCurlOnce();
    impl_->readTimeout = readTimeout;
    CURL* curl = curl_easy_init();
    if (!curl)
        throw erro(QStringLiteral("Out of memory"));
    impl_->curl = curl;

    char* text = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &text) == CURLE_OK && text)
        impl_->defaultCaFile = text;
    text = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CAPATH, &text) == CURLE_OK && text)
        impl_->defaultCaPath = text;

    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // also when *_proxy variables are set
    curl_easy_setopt(curl, CURLOPT_DISALLOW_USERNAME_IN_URL, 1L); // never an Authorization header
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    // Bodies arrive as sent: no decompression, and the chunk framing is ours to
    // strip, because the work events count it.
    curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_TRANSFER_DECODING, 0L);
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, ""); // cookie engine, in memory only
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    useSystemStore(curl, true);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &Impl::onSocketOpened);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, impl_.get());
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Impl::onSocketClosing);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, impl_.get());
}

HttpClient::~HttpClient() {
    curl_easy_cleanup(impl_->curl);
}

std::chrono::milliseconds HttpClient::readTimeout() const {
    return impl_->readTimeout;
}

void HttpClient::setCaFile(const QString& pemFile) {
    impl_->caFile = pemFile.toStdString();
    CURL* curl = impl_->curl;
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    if (impl_->caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, orNull(impl_->defaultCaFile));
        curl_easy_setopt(curl, CURLOPT_CAPATH, orNull(impl_->defaultCaPath));
    } else {
        // Only these roots: the system's directory of roots is not consulted.
        curl_easy_setopt(curl, CURLOPT_CAINFO, impl_->caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    useSystemStore(curl, impl_->caFile.empty());
    impl_->freshConnection = true;
}

void HttpClient::PrepararTls() {
    impl_->freshConnection = true;
}

QString HttpClient::Get(const QString& address, std::uint64_t maxBytes) {
    TextTarget target(maxBytes);
    Exchange exchange(*this, target);
    exchange.run(address);
    return decodeBody(target.bytes(), QString::fromLatin1(exchange.contentType()));
}

QByteArray HttpClient::GetBytes(const QString& address, std::uint64_t maxBytes) {
    TextTarget target(maxBytes);
    Exchange exchange(*this, target);
    exchange.run(address);
    return target.bytes();
}

void HttpClient::Get(const QString& address, platform::File& target) {
    FileTarget fileTarget(target);
    Exchange exchange(*this, fileTarget);
    exchange.run(address);
}
