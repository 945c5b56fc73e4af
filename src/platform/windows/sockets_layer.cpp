#include "platform/sockets_layer.h"

#include "platform/windows/sockets_layer_seam.h"

namespace dvkc::platform {
namespace {

SocketsLayerCalls active_calls = {::WSAStartup, ::WSACleanup};

}  // namespace

int start_sockets_layer(std::uint16_t requested, std::uint16_t &granted) noexcept
{
    WSADATA data{};
    const int result = active_calls.startup(requested, &data);
    if (result == 0) {
        granted = data.wVersion;
    }
    return result;
}

void release_sockets_layer() noexcept
{
    active_calls.cleanup();
}

SocketsLayerCalls replace_sockets_layer_calls(SocketsLayerCalls calls) noexcept
{
    const SocketsLayerCalls previous = active_calls;
    active_calls = calls;
    return previous;
}

}  // namespace dvkc::platform
