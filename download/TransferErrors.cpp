#include "TransferErrors.h"

#include <cerrno>
#include <cstring>

namespace {

struct SocketError {
    int osError;
    int wsaNumber;
    const char* text;
};

// Windows Sockets numbers and texts for the system's error numbers.
constexpr SocketError socketErrors[] = {
    {EACCES, 10013, "Permission denied."},
    {EMFILE, 10024, "Too many open files."},
    {EADDRINUSE, 10048, "Address already in use."},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
    {ENETDOWN, 10050, "Network is down."},
    {ENETUNREACH, 10051, "Network is unreachable."},
    {ENETRESET, 10052, "Net dropped connection or reset."},
    {ECONNABORTED, 10053, "Software caused connection abort."},
    {EPIPE, 10053, "Software caused connection abort."},
    {ECONNRESET, 10054, "Connection reset by peer."},
    {ENOBUFS, 10055, "No buffer space available."},
    {ENOTCONN, 10057, "Socket is not connected."},
    {ETIMEDOUT, 10060, "Connection timed out."},
    {ECONNREFUSED, 10061, "Connection refused."},
    {EHOSTDOWN, 10064, "Host is down."},
    {EHOSTUNREACH, 10065, "No route to host."},
};

QString socketError(int number, const QString& text) {
    return QStringLiteral("Socket Error # %1\r\n%2").arg(number).arg(text);
}

QString sslError(const char* detail) {
    return QStringLiteral("Error connecting with SSL.\r\n") + QString::fromUtf8(detail);
}

} // namespace

QString socketErrorMessage(int osError) {
    for (const auto& e : socketErrors)
        if (e.osError == osError)
            return socketError(e.wsaNumber, QString::fromLatin1(e.text));
    // No Windows Sockets counterpart: the system's own number and text.
    return socketError(osError, QString::fromLocal8Bit(std::strerror(osError)) + u'.');
}

QString transferFailureMessage(CURLcode code, long osError, const char* detail) {
    if (!detail || !*detail)
        detail = curl_easy_strerror(code);
    // The error number libcurl keeps is its last one, which closing the
    // connection may have replaced; the text it wrote names the failure itself.
    if (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR) {
        for (const auto& e : socketErrors)
            if (std::strstr(detail, std::strerror(e.osError)))
                osError = e.osError;
    }
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QStringLiteral("Unknown Protocol");
    case CURLE_COULDNT_RESOLVE_HOST:
        return socketError(11001, QStringLiteral("Host not found."));
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT: // the connect phase's own limit
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        if (osError != 0)
            return socketErrorMessage(static_cast<int>(osError));
        if (code == CURLE_OPERATION_TIMEDOUT)
            return socketErrorMessage(ETIMEDOUT);
        if (code == CURLE_COULDNT_CONNECT)
            return socketErrorMessage(ECONNREFUSED);
        return QString::fromUtf8(detail);
    case CURLE_GOT_NOTHING:
        return QStringLiteral("Connection Closed Gracefully.");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return sslError(detail);
    default:
        return QString::fromUtf8(detail);
    }
}
