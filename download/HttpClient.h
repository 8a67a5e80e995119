#pragma once

// The HTTP client: one libcurl easy handle, so that cookies and a kept-alive
// connection carry over from one request to the next on the same object.

#include "Platform.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

enum class TWorkMode { wmRead, wmWrite };

class HttpClient {
public:
    // `readTimeout`: how long a response may stay silent before the exchange
    // fails with "Read timed out.".
    explicit HttpClient(std::chrono::milliseconds readTimeout = std::chrono::seconds(60));
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sent as the "User-Agent" header of every request.
    QString UserAgent;

    std::chrono::milliseconds readTimeout() const;

    // Trusted roots for every request: a PEM bundle, or empty for the system's store.
    void setCaFile(const QString& pemFile);

    // A fresh TLS set-up for the next requests (the role of giving the client a
    // new TLS handler): the next request opens a new connection. Cookies stay.
    void PrepararTls();

    // GET into a text, decoded by the response's charset. Bodies above `maxBytes` fail.
    QString Get(const QString& address, std::uint64_t maxBytes);
    // The same, as the bytes received.
    QByteArray GetBytes(const QString& address, std::uint64_t maxBytes);
    // GET into the file, from its start; the file is cut to the bytes written.
    // The body of a failing response never reaches it.
    void Get(const QString& address, platform::File& target);

    // Work events: raised only while a response body is read, the failing ones too.
    std::function<void(TWorkMode, std::int64_t workCountMax)> OnWorkBegin;
    std::function<void(TWorkMode, std::int64_t workCount)> OnWork;
    std::function<void(TWorkMode)> OnWorkEnd;

private:
    struct Impl;
    class Exchange;
    std::unique_ptr<Impl> impl_;
};
