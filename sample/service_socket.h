// The socket calls of the TLS service, one implementation per platform
// (posix/ and windows/ beside this file; CMake picks one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dvkc::sample::net {

// A descriptor on POSIX, a SOCKET on Windows.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A TCP socket bound to `address`:`port` (0: any free port), listening when
// `listening`, not inherited by child processes; stores the port it got in
// `bound`. Throws std::runtime_error on failure.
Socket bind_tcp(const std::string &address, std::uint16_t port, bool listening, std::uint16_t &bound);

// A listening TCP socket on `address`:`port`.
inline Socket listen_ipv4(const std::string &address, std::uint16_t port, std::uint16_t &bound)
{
    return bind_tcp(address, port, true, bound);
}

// A TCP socket bound to `address`:0 but not listening (a connect to it is
// refused).
inline Socket bind_without_listening(const std::string &address, std::uint16_t &bound)
{
    return bind_tcp(address, 0, false, bound);
}

// Lets one thread wake another that waits for a connection.
class Waker {
public:
    Waker();  // throws std::runtime_error on failure
    Waker(const Waker &) = delete;
    Waker &operator=(const Waker &) = delete;
    ~Waker();

    void wake() noexcept;
    Socket waitable() const noexcept { return read_end_; }

private:
    Socket read_end_ = kNoSocket;
    Socket write_end_ = kNoSocket;
};

enum class Ready { connection, woken, timed_out, failed };

// Waits until `listener` has a connection or `waker` was woken, or at most
// `timeout_ms` when that is not negative.
Ready wait_for_connection(Socket listener, const Waker &waker, int timeout_ms = -1);

// Accepts one connection (not inherited), or kNoSocket; `peer` gets the
// client's address as "a.b.c.d:port", `exhausted` whether the failure was a
// lack of descriptors or memory, worth waiting out.
Socket accept_connection(Socket listener, std::string &peer, bool &exhausted);

// Receives up to `size` bytes: the count, 0 at the peer's end, -1 on error
// (interrupted calls are resumed).
long receive(Socket socket, char *data, std::size_t size) noexcept;

// Sends each write at once when `no_delay` (no wait for the acknowledgement
// of the previous segment), and fails a receive or send that waits longer
// than `idle_timeout_ms` when that is positive.
void tune_connection(Socket socket, bool no_delay, int idle_timeout_ms) noexcept;

// Sends what one send takes of `size` bytes: the count, or -1 on error (no
// signal for a peer that has gone).
long send_some(Socket socket, const char *data, std::size_t size) noexcept;

// Makes the coming close reset the connection instead of ending it in order.
void reset_on_close(Socket socket) noexcept;

void shutdown_sending(Socket socket) noexcept;
void shutdown_both(Socket socket) noexcept;
void close(Socket socket) noexcept;

// The text of the last socket error of this thread.
std::string last_error();

// A client that hangs up while the service writes must not signal the
// process: SIGPIPE stays blocked in the calling thread (nothing on Windows).
void block_sigpipe_in_this_thread() noexcept;

// The socket as OpenSSL's SSL_set_fd takes it.
int as_openssl_fd(Socket socket) noexcept;

}  // namespace dvkc::sample::net
