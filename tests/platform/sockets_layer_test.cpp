// The sockets layer needs no start on POSIX: it grants what is asked.
#include "platform/sockets_layer.h"

#include <gtest/gtest.h>

namespace dvkc::platform {
namespace {

TEST(SocketsLayer, StartGrantsVersionTwoPointTwo)
{
    std::uint16_t granted = 0;
    EXPECT_EQ(start_sockets_layer(kSocketsLayerVersion, granted), 0);
    EXPECT_EQ(granted, 0x0202);
    release_sockets_layer();
    SocketsLayerSession session;
    session.started();
}

}  // namespace
}  // namespace dvkc::platform
