#include "../Platform.h"

namespace platform {

int windowsSocketsNumber(int osError) {
    // The system reports Windows Sockets numbers themselves (WSABASEERR on).
    return osError >= 10000 && osError < 12000 ? osError : 0;
}

int socketErrorNamedIn(std::string_view) {
    // The number libcurl keeps comes from WSAGetLastError, not from a
    // shared errno that closing the connection could have replaced.
    return 0;
}

bool tlsRootsFromSystemStore() {
    return true;
}

} // namespace platform
