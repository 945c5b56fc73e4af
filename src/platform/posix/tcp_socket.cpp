#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace dvkc::platform {

SocketHandle open_tcp_socket() noexcept
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : fd;
}

namespace {

// After a connect that a signal interrupted, the connection goes on in the
// background: wait for it to finish and fetch its outcome.
bool finish_interrupted_connect(SocketHandle socket) noexcept
{
    pollfd entry{socket, POLLOUT, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, -1);
        if (ready > 0) {
            break;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

}  // namespace

bool connect_ipv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) {
        return true;
    }
    return errno == EINTR && finish_interrupted_connect(socket);
}

bool shutdown_socket_once(SocketHandle socket) noexcept
{
    return ::shutdown(socket, SHUT_RDWR) == 0;
}

bool close_socket_once(SocketHandle socket) noexcept
{
    // Linux releases the descriptor whatever close() reports (EINTR, EIO),
    // and EBADF means it was not open: a second close could only hit a
    // descriptor another thread has opened meanwhile, so one attempt is final.
    ::close(socket);
    return true;
}

}  // namespace dvkc::platform
