#include "service_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace dvkc::sample::net {
namespace {

SOCKET handle_of(Socket socket) noexcept
{
    return static_cast<SOCKET>(socket);
}

// The service's own use of the sockets layer: started once, for the whole
// test process, independently of the library's per-call start and release.
void start_sockets_layer()
{
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) {
        throw std::runtime_error("WSAStartup failed");
    }
}

Socket open_socket(int type, int protocol)
{
    start_sockets_layer();
    const SOCKET socket =
        ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(socket);
}

// Binds `socket` to `address`:`port` and stores the bound address back.
bool bind_ipv4(Socket socket, const std::string &address, std::uint16_t port, sockaddr_in &local)
{
    local = sockaddr_in{};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return false;
    }
    int size = sizeof local;
    return ::bind(handle_of(socket), reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0 &&
           ::getsockname(handle_of(socket), reinterpret_cast<sockaddr *>(&local), &size) == 0;
}

}  // namespace

Socket bind_tcp(const std::string &address, std::uint16_t port, bool listening, std::uint16_t &bound)
{
    const Socket socket = open_socket(SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    // No SO_REUSEADDR: on Windows it would let another socket take the port.
    if (socket == kNoSocket || !bind_ipv4(socket, address, port, local) ||
        (listening && ::listen(handle_of(socket), 64) != 0)) {
        const std::string reason = last_error();
        if (socket != kNoSocket) {
            ::closesocket(handle_of(socket));
        }
        throw std::runtime_error("listening on " + address + ": " + reason);
    }
    bound = ::ntohs(local.sin_port);
    return socket;
}

// Windows cannot wait on a pipe and a socket together: the waker is a UDP
// socket on the loopback address that wake() sends one datagram to.
Waker::Waker()
{
    read_end_ = open_socket(SOCK_DGRAM, IPPROTO_UDP);
    write_end_ = open_socket(SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local{};
    if (read_end_ == kNoSocket || write_end_ == kNoSocket || !bind_ipv4(read_end_, "127.0.0.1", 0, local) ||
        ::connect(handle_of(write_end_), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        const std::string reason = last_error();
        for (const Socket end : {read_end_, write_end_}) {
            if (end != kNoSocket) {
                ::closesocket(handle_of(end));
            }
        }
        throw std::runtime_error("wake-up socket: " + reason);
    }
}

Waker::~Waker()
{
    if (read_end_ != kNoSocket) {
        ::closesocket(handle_of(read_end_));
    }
    if (write_end_ != kNoSocket) {
        ::closesocket(handle_of(write_end_));
    }
}

void Waker::wake() noexcept
{
    const char byte = 'x';
    ::send(handle_of(write_end_), &byte, 1, 0);
}

Ready wait_for_connection(Socket listener, const Waker &waker, int timeout_ms)
{
    WSAPOLLFD watched[2] = {{handle_of(listener), POLLRDNORM, 0}, {handle_of(waker.waitable()), POLLRDNORM, 0}};
    const int ready = ::WSAPoll(watched, 2, timeout_ms);
    if (ready < 0) {
        return Ready::failed;
    }
    if (ready == 0) {
        return Ready::timed_out;
    }
    return watched[1].revents != 0 ? Ready::woken : Ready::connection;
}

Socket accept_connection(Socket listener, std::string &peer, bool &exhausted)
{
    sockaddr_in from{};
    int size = sizeof from;
    const SOCKET socket = ::accept(handle_of(listener), reinterpret_cast<sockaddr *>(&from), &size);
    if (socket == INVALID_SOCKET) {
        exhausted = ::WSAGetLastError() == WSAEMFILE || ::WSAGetLastError() == WSAENOBUFS;
        return kNoSocket;
    }
    // Accepted sockets inherit the listener's attributes, but be explicit.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(::ntohs(from.sin_port));
    return static_cast<Socket>(socket);
}

long receive(Socket socket, char *data, std::size_t size) noexcept
{
    const int count = ::recv(handle_of(socket), data, size > 65536 ? 65536 : static_cast<int>(size), 0);
    return count == SOCKET_ERROR ? -1 : count;
}

void tune_connection(Socket socket, bool no_delay, int idle_timeout_ms) noexcept
{
    if (no_delay) {
        const BOOL yes = TRUE;
        ::setsockopt(handle_of(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&yes), sizeof yes);
    }
    if (idle_timeout_ms > 0) {
        const DWORD limit = static_cast<DWORD>(idle_timeout_ms);
        ::setsockopt(handle_of(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit);
        ::setsockopt(handle_of(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit);
    }
}

long send_some(Socket socket, const char *data, std::size_t size) noexcept
{
    const int count = ::send(handle_of(socket), data, size > 65536 ? 65536 : static_cast<int>(size), 0);
    return count == SOCKET_ERROR ? -1 : count;
}

void reset_on_close(Socket socket) noexcept
{
    const linger reset{1, 0};
    ::setsockopt(handle_of(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset), sizeof reset);
}

void shutdown_sending(Socket socket) noexcept
{
    ::shutdown(handle_of(socket), SD_SEND);
}

void shutdown_both(Socket socket) noexcept
{
    ::shutdown(handle_of(socket), SD_BOTH);
}

void close(Socket socket) noexcept
{
    ::closesocket(handle_of(socket));
}

std::string last_error()
{
    return "Windows sockets error " + std::to_string(::WSAGetLastError());
}

void block_sigpipe_in_this_thread() noexcept {}

int as_openssl_fd(Socket socket) noexcept
{
    return static_cast<int>(socket);  // OpenSSL's own narrowing of a SOCKET
}

}  // namespace dvkc::sample::net
