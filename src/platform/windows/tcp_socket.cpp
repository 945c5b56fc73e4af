#include "platform/tcp_socket.h"

#include <winsock2.h>
#include <windows.h>

namespace dvkc::platform {

static_assert(kNoSocket == INVALID_SOCKET);
static_assert(sizeof(SocketHandle) == sizeof(SOCKET));

SocketHandle open_tcp_socket() noexcept
{
    // WSA_FLAG_OVERLAPPED as socket() does; the socket is not inheritable.
    SOCKET socket =
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 lack the flag: clear inheritance after.
        socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (socket != INVALID_SOCKET &&
            !::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0)) {
            ::closesocket(socket);
            socket = INVALID_SOCKET;
        }
    }
    return socket;
}

bool connect_ipv4(SocketHandle socket, std::uint32_t address, std::uint16_t port) noexcept
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = ::htons(port);
    target.sin_addr.s_addr = address;
    return ::connect(socket, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0;
}

bool shutdown_socket_once(SocketHandle socket) noexcept
{
    return ::shutdown(socket, SD_BOTH) == 0;
}

bool close_socket_once(SocketHandle socket) noexcept
{
    // Unlike POSIX close(), a failed closesocket() keeps the socket open
    // (WSAEWOULDBLOCK, WSAEINPROGRESS), so it is worth another try.
    return ::closesocket(socket) == 0;
}

}  // namespace dvkc::platform
