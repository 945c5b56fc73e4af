// Where the exchange connects for a given host text. Only "localhost" is
// ever looked up by name here: nothing may leave the machine.
#include "platform/host_lookup.h"
#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

// Names under ".lookup.test" resolve to 127.0.0.2 in this program without any
// query leaving it: this definition takes the place of the C library's.
extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **found)
{
    using Real = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    const char *suffix = ".lookup.test";
    if (node != nullptr && std::strlen(node) > std::strlen(suffix) &&
        std::strcmp(node + std::strlen(node) - std::strlen(suffix), suffix) == 0) {
        addrinfo numeric{};
        numeric.ai_family = AF_INET;
        numeric.ai_socktype = hints != nullptr ? hints->ai_socktype : 0;
        numeric.ai_flags = AI_NUMERICHOST;
        return real("127.0.0.2", service, &numeric, found);
    }
    return real(node, service, hints, found);
}

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

std::string dotted(std::uint32_t address)
{
    char text[INET_ADDRSTRLEN];
    in_addr raw{};
    raw.s_addr = address;
    return inet_ntop(AF_INET, &raw, text, sizeof text);
}

class NonLetterHosts : public testing::TestWithParam<HostCase> {};

// Not starting with a letter: converted as dotted text and used unchecked.
TEST_P(NonLetterHosts, AreConvertedNotLookedUp)
{
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address(GetParam().host, address));
    EXPECT_EQ(dotted(address), GetParam().expected);
    EXPECT_EQ(address, dotted_address(GetParam().host));
}

INSTANTIATE_TEST_SUITE_P(Platform, NonLetterHosts,
                         testing::Values(HostCase{"127.0.0.1", "127.0.0.1"},
                                         HostCase{"1nvalid", "255.255.255.255"},
                                         HostCase{"255.255.255.255", "255.255.255.255"},
                                         HostCase{"127.1", "127.0.0.1"},
                                         HostCase{"0x7f.0.0.2", "127.0.0.2"},
                                         HostCase{"256.0.0.1", "255.255.255.255"},
                                         HostCase{"127.0.0.1 trailing", "127.0.0.1"},
                                         HostCase{"-1", "255.255.255.255"},
                                         HostCase{"", "255.255.255.255"}));

class LetterFirstHosts : public testing::TestWithParam<const char *> {};

// Every host starting with a letter, A to Z and a to z, is looked up by name.
TEST_P(LetterFirstHosts, AreLookedUpByName)
{
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address(GetParam(), address));
    EXPECT_EQ(dotted(address), "127.0.0.2");
}

INSTANTIATE_TEST_SUITE_P(Platform, LetterFirstHosts,
                         testing::Values("a.lookup.test", "A.lookup.test", "z.lookup.test", "Z.lookup.test"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(1, info.param[0]) + (info.param[0] >= 'a' ? "Lower" : "Upper");
                         });

TEST(LetterHosts, LocalhostIsLookedUpByName)
{
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address("localhost", address));
    EXPECT_EQ(dotted(address).rfind("127.", 0), 0U);
}

}  // namespace
}  // namespace dvkc::platform
