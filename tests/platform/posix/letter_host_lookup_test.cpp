// The letter test of the host lookup at its edges. Names under ".lookup.test"
// resolve to 127.0.0.2 in this program without any query leaving it: the
// definition below takes the place of the C library's getaddrinfo.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host_lookup.h"

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

class LetterFirstHosts : public testing::TestWithParam<const char *> {};

// Every host starting with a letter, A to Z and a to z, is looked up by name.
TEST_P(LetterFirstHosts, AreLookedUpByName)
{
    std::uint32_t address = 0;
    ASSERT_TRUE(find_ipv4_address(GetParam(), address));
    in_addr raw{};
    raw.s_addr = address;
    char text[INET_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET, &raw, text, sizeof text), "127.0.0.2");
}

INSTANTIATE_TEST_SUITE_P(Platform, LetterFirstHosts,
                         testing::Values("a.lookup.test", "A.lookup.test", "z.lookup.test", "Z.lookup.test"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(1, info.param[0]) + (info.param[0] >= 'a' ? "Lower" : "Upper");
                         });

}  // namespace
}  // namespace dvkc::platform
