// The sockets layer's start and release: WSAStartup and WSACleanup on
// Windows; POSIX sockets need neither, so there both are no-ops (the exchange
// still calls them in their place, and -2 and -3 never occur).
#pragma once

#include <cstdint>

namespace dvkc::platform {

// The version the exchange asks for: 2.2 (major in the low byte).
inline constexpr std::uint16_t kSocketsLayerVersion = 0x0202;

// Starts the sockets layer asking for `requested`; returns 0 and stores the
// granted version in `granted`, or non-zero when the layer refuses to start.
int start_sockets_layer(std::uint16_t requested, std::uint16_t &granted) noexcept;

// Releases one successful start.
void release_sockets_layer() noexcept;

// Releases the sockets layer at scope exit once started() has been called.
class SocketsLayerSession {
public:
    SocketsLayerSession() noexcept = default;
    SocketsLayerSession(const SocketsLayerSession &) = delete;
    SocketsLayerSession &operator=(const SocketsLayerSession &) = delete;
    ~SocketsLayerSession()
    {
        if (started_) {
            release_sockets_layer();
        }
    }

    void started() noexcept { started_ = true; }

private:
    bool started_ = false;
};

}  // namespace dvkc::platform
