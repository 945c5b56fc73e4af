#include "platform/socket_close.h"

#include "platform/pause.h"

namespace dvkc::platform {

void vShutdownSocket(SocketHandle socket) noexcept
{
    retry_socket_step([socket] { return shutdown_socket_once(socket); }, pause_5ms);
}

// Retried where a failed close leaves the socket open (Windows); a POSIX
// close() releases the descriptor on its first attempt, whatever it reports.
void vCloseSocket(SocketHandle socket) noexcept
{
    retry_socket_step([socket] { return close_socket_once(socket); }, pause_5ms);
}

void close_socket(SocketHandle socket) noexcept
{
    vShutdownSocket(socket);
    vCloseSocket(socket);
}

}  // namespace dvkc::platform
