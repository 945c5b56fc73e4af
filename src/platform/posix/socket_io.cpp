#include "platform/socket_io.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace dvkc::platform {

int send_some(SocketHandle socket, const char *data, int size) noexcept
{
    ssize_t sent = -1;
    do {
        // MSG_NOSIGNAL: a peer that has gone gives EPIPE, never SIGPIPE.
        sent = ::send(socket, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

int receive_some(SocketHandle socket, char *data, int size) noexcept
{
    ssize_t received = -1;
    do {
        received = ::recv(socket, data, static_cast<std::size_t>(size), 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<int>(received);
}

bool last_socket_error_is_retry() noexcept
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

}  // namespace dvkc::platform
