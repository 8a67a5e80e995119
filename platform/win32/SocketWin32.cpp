// SIO_TCP_INFO is declared for Windows 10 1703 and later only; on older
// systems the call fails at run time and the caller does without.
#if !defined(NTDDI_VERSION) || NTDDI_VERSION < 0x0A000003
#undef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003
#endif
#include <winsock2.h>

#include <mstcpip.h>

#include "../Platform.h"

namespace platform {

std::optional<std::uint64_t> tcpBytesReceived(std::intptr_t socket) {
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD returned = 0;
    if (::WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_INFO, &version, sizeof version, &info,
                   sizeof info, &returned, nullptr, nullptr) != 0 ||
        returned < sizeof info)
        return std::nullopt;
    return info.BytesIn;
}

void closeSocket(std::intptr_t socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}

} // namespace platform
