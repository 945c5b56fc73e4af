// Where the exchange connects for a given host text. Only "localhost" is
// ever looked up by name here: nothing may leave the machine.
#include "platform/host_lookup.h"
#include "platform/name_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "platform/sockets_layer.h"

namespace dvkc::platform {
namespace {

struct HostCase {
    const char *host;
    const char *expected;  // dotted
};

void PrintTo(const HostCase &c, std::ostream *out)
{
    *out << '"' << c.host << '"';
}

// The address (network byte order) as dotted text.
std::string dotted(std::uint32_t address)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]);
}

// Lookups need the sockets layer started where there is one (Windows).
class SocketsLayer {
public:
    SocketsLayer()
    {
        std::uint16_t granted = 0;
        if (start_sockets_layer(kSocketsLayerVersion, granted) == 0) {
            session_.started();
        }
    }

private:
    SocketsLayerSession session_;
};

class NonLetterHosts : public testing::TestWithParam<HostCase> {};

// Not starting with a letter: converted as dotted text and used unchecked.
TEST_P(NonLetterHosts, AreConvertedNotLookedUp)
{
    const SocketsLayer layer;
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address(GetParam().host, address));
    EXPECT_EQ(dotted(address), GetParam().expected);
    EXPECT_EQ(address, dotted_address(GetParam().host));
}

INSTANTIATE_TEST_SUITE_P(Platform, NonLetterHosts,
                         testing::Values(HostCase{"127.0.0.1", "127.0.0.1"}, HostCase{"1nvalid", "255.255.255.255"},
                                         HostCase{"255.255.255.255", "255.255.255.255"}, HostCase{"127.1", "127.0.0.1"},
                                         HostCase{"0x7f.0.0.2", "127.0.0.2"}, HostCase{"256.0.0.1", "255.255.255.255"},
                                         HostCase{"127.0.0.1 trailing", "127.0.0.1"}, HostCase{"-1", "255.255.255.255"},
                                         HostCase{"", "255.255.255.255"}));

TEST(LetterHosts, LocalhostIsLookedUpByName)
{
    const SocketsLayer layer;
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address("localhost", address));
    EXPECT_EQ(dotted(address).rfind("127.", 0), 0U);
}

}  // namespace
}  // namespace dvkc::platform
