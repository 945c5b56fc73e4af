#include "platform/sockets_layer.h"

namespace dvkc::platform {

int start_sockets_layer(std::uint16_t requested, std::uint16_t &granted) noexcept
{
    granted = requested;
    return 0;
}

void release_sockets_layer() noexcept {}

}  // namespace dvkc::platform
