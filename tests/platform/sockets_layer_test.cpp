// The sockets layer grants version 2.2: POSIX needs no start and grants what
// is asked; Windows' WSAStartup grants 2.2 (refusals: windows/ seam test).
#include "platform/sockets_layer.h"

#include <gtest/gtest.h>

namespace dvkc::platform {
namespace {

TEST(SocketsLayer, StartGrantsVersionTwoPointTwo)
{
    std::uint16_t granted = 0;
    ASSERT_EQ(start_sockets_layer(kSocketsLayerVersion, granted), 0);
    EXPECT_EQ(granted, 0x0202);
    SocketsLayerSession session;  // releases the start at scope exit
    session.started();
}

}  // namespace
}  // namespace dvkc::platform
