// Closing a socket: shutdown of both directions, then close, each tried up to
// ten times with a 5 ms pause after every failed attempt.
#pragma once

#include "platform/tcp_socket.h"

namespace dvkc::platform {

inline constexpr int kSocketCloseAttempts = 10;

// Runs `attempt` until it succeeds, at most kSocketCloseAttempts times,
// calling `pause` after each failed attempt (the last one included).
// Returns whether an attempt succeeded.
template <typename Attempt, typename Pause>
bool retry_socket_step(Attempt &&attempt, Pause &&pause)
{
    for (int i = 0; i < kSocketCloseAttempts; ++i) {
        if (attempt()) {
            return true;
        }
        pause();
    }
    return false;
}

void vShutdownSocket(SocketHandle socket) noexcept;
void vCloseSocket(SocketHandle socket) noexcept;

// vShutdownSocket, then vCloseSocket.
void close_socket(SocketHandle socket) noexcept;

// Owns a socket and closes it (as above) when it goes.
class UniqueSocket {
public:
    UniqueSocket() noexcept = default;
    explicit UniqueSocket(SocketHandle socket) noexcept : socket_(socket) {}
    UniqueSocket(const UniqueSocket &) = delete;
    UniqueSocket &operator=(const UniqueSocket &) = delete;
    UniqueSocket(UniqueSocket &&other) noexcept : socket_(other.socket_) { other.socket_ = kNoSocket; }
    UniqueSocket &operator=(UniqueSocket &&other) noexcept
    {
        if (this != &other) {
            reset();
            socket_ = other.socket_;
            other.socket_ = kNoSocket;
        }
        return *this;
    }
    ~UniqueSocket() { reset(); }

    SocketHandle get() const noexcept { return socket_; }
    bool valid() const noexcept { return socket_ != kNoSocket; }
    void reset() noexcept
    {
        if (socket_ != kNoSocket) {
            close_socket(socket_);
            socket_ = kNoSocket;
        }
    }

private:
    SocketHandle socket_ = kNoSocket;
};

}  // namespace dvkc::platform
