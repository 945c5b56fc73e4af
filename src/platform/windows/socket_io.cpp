#include "platform/socket_io.h"

#include <winsock2.h>

namespace dvkc::platform {

// Windows has no SIGPIPE and no interrupted calls: plain send and recv.
int send_some(SocketHandle socket, const char *data, int size) noexcept
{
    const int sent = ::send(socket, data, size, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int receive_some(SocketHandle socket, char *data, int size) noexcept
{
    const int received = ::recv(socket, data, size, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool last_socket_error_is_retry() noexcept
{
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

}  // namespace dvkc::platform
