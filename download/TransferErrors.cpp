#include "TransferErrors.h"

#include "Platform.h"

namespace {

struct SocketError {
    int wsaNumber;
    const char* text;
};

// The Windows Sockets texts users of the updater read.
constexpr SocketError socketErrors[] = {
    {10013, "Permission denied."},
    {10024, "Too many open files."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10057, "Socket is not connected."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10064, "Host is down."},
    {10065, "No route to host."},
};

constexpr int wsaTimedOut = 10060;
constexpr int wsaRefused = 10061;

QString socketError(int number, const QString& text) {
    return QStringLiteral("Socket Error # %1\r\n%2").arg(number).arg(text);
}

QString sslError(const char* detail) {
    return QStringLiteral("Error connecting with SSL.\r\n") + QString::fromUtf8(detail);
}

QString knownSocketError(int wsaNumber) {
    for (const auto& e : socketErrors)
        if (e.wsaNumber == wsaNumber)
            return socketError(wsaNumber, QString::fromLatin1(e.text));
    return {};
}

} // namespace

QString socketErrorMessage(int osError) {
    QString known = knownSocketError(platform::windowsSocketsNumber(osError));
    if (!known.isEmpty())
        return known;
    // Not among the texts above: the system's own number and text.
    QString text = QString::fromStdU16String(platform::systemErrorMessage(osError));
    if (!text.endsWith(u'.'))
        text += u'.';
    return socketError(osError, text);
}

QString transferFailureMessage(CURLcode code, long osError, const char* detail) {
    if (!detail || !*detail)
        detail = curl_easy_strerror(code);
    // The error number libcurl keeps is its last one, which closing the
    // connection may have replaced; the text it wrote names the failure itself.
    if (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR) {
        if (int named = platform::socketErrorNamedIn(detail))
            osError = named;
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
            return knownSocketError(wsaTimedOut);
        if (code == CURLE_COULDNT_CONNECT)
            return knownSocketError(wsaRefused);
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
