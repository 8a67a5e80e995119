#include "../Platform.h"

#include <cstddef>
#include <linux/tcp.h> // tcpi_bytes_received, which glibc's struct lacks
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

std::optional<std::uint64_t> tcpBytesReceived(std::intptr_t socket) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return std::nullopt;
    return info.tcpi_bytes_received;
}

void closeSocket(std::intptr_t socket) {
    ::close(static_cast<int>(socket));
}

} // namespace platform
