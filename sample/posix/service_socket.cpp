#include "service_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace dvkc::sample::net {
namespace {

int fd_of(Socket socket) noexcept
{
    return static_cast<int>(socket);
}

}  // namespace

Socket bind_tcp(const std::string &address, std::uint16_t port, bool listening, std::uint16_t &bound)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    socklen_t size = sizeof local;
    if (fd < 0 || (listening && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) ||
        ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0 ||
        (listening && ::listen(fd, 64) != 0) || ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("listening on " + address + ": " + reason);
    }
    bound = ntohs(local.sin_port);
    return fd;
}

Waker::Waker()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    read_end_ = ends[0];
    write_end_ = ends[1];
}

Waker::~Waker()
{
    ::close(fd_of(read_end_));
    ::close(fd_of(write_end_));
}

void Waker::wake() noexcept
{
    const char byte = 'x';
    [[maybe_unused]] const ssize_t ignored = ::write(fd_of(write_end_), &byte, 1);
}

Ready wait_for_connection(Socket listener, const Waker &waker, int timeout_ms)
{
    for (;;) {
        pollfd watched[2] = {{fd_of(listener), POLLIN, 0}, {fd_of(waker.waitable()), POLLIN, 0}};
        const int ready = ::poll(watched, 2, timeout_ms);
        if (ready < 0 && errno == EINTR) {
            continue;  // a signal cuts the wait short; the caller waits again with a fresh limit
        }
        if (ready < 0) {
            return Ready::failed;
        }
        if (ready == 0) {
            return Ready::timed_out;
        }
        return watched[1].revents != 0 ? Ready::woken : Ready::connection;
    }
}

Socket accept_connection(Socket listener, std::string &peer, bool &exhausted)
{
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const int fd = ::accept4(fd_of(listener), reinterpret_cast<sockaddr *>(&from), &size, SOCK_CLOEXEC);
    if (fd < 0) {
        exhausted = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        return kNoSocket;
    }
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
    return fd;
}

long receive(Socket socket, char *data, std::size_t size) noexcept
{
    for (;;) {
        const ssize_t count = ::recv(fd_of(socket), data, size, 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(count);
    }
}

void tune_connection(Socket socket, bool no_delay, int idle_timeout_ms) noexcept
{
    if (no_delay) {
        const int yes = 1;
        ::setsockopt(fd_of(socket), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    if (idle_timeout_ms > 0) {
        timeval limit{};
        limit.tv_sec = idle_timeout_ms / 1000;
        limit.tv_usec = (idle_timeout_ms % 1000) * 1000;
        ::setsockopt(fd_of(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_of(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
}

long send_some(Socket socket, const char *data, std::size_t size) noexcept
{
    return static_cast<long>(::send(fd_of(socket), data, size, MSG_NOSIGNAL));
}

void reset_on_close(Socket socket) noexcept
{
    const linger reset{1, 0};
    ::setsockopt(fd_of(socket), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void shutdown_sending(Socket socket) noexcept
{
    ::shutdown(fd_of(socket), SHUT_WR);
}

void shutdown_both(Socket socket) noexcept
{
    ::shutdown(fd_of(socket), SHUT_RDWR);
}

void close(Socket socket) noexcept
{
    ::close(fd_of(socket));
}

std::string last_error()
{
    return std::strerror(errno);
}

void block_sigpipe_in_this_thread() noexcept
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int as_openssl_fd(Socket socket) noexcept
{
    return fd_of(socket);
}

}  // namespace dvkc::sample::net
