#include "../Platform.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

struct SocketErrno {
    int code;
    int wsaNumber;
};

// The Windows Sockets counterparts of the system's error numbers.
constexpr SocketErrno socketErrnos[] = {
    {EACCES, 10013},    {EMFILE, 10024},       {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},  {ENETUNREACH, 10051},  {ENETRESET, 10052},  {ECONNABORTED, 10053},
    {EPIPE, 10053},     {ECONNRESET, 10054},   {ENOBUFS, 10055},    {ENOTCONN, 10057},
    {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},  {EHOSTUNREACH, 10065},
};

} // namespace

int windowsSocketsNumber(int osError) {
    for (const auto& e : socketErrnos)
        if (e.code == osError)
            return e.wsaNumber;
    return 0;
}

int socketErrorNamedIn(std::string_view message) {
    int found = 0;
    // The last one listed that appears.
    for (const auto& e : socketErrnos)
        if (message.find(std::strerror(e.code)) != std::string_view::npos)
            found = e.code;
    return found;
}

bool tlsRootsFromSystemStore() {
    return false;
}

} // namespace platform
