#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "request/nonce.h"

namespace {

TEST(NonceSeed, TakesTheModifiersSignedRemainder)
{
    struct Case {
        std::int32_t modifier;
        std::uint32_t factor;
    };
    for (const Case c : {Case{0, 1}, Case{1000, 1}, Case{5, 6}, Case{1005, 6}, Case{999, 1000}, Case{-1, 0},
                         Case{-1001, 0}, Case{-999, 4294966298U}, Case{INT32_MAX, 648}, Case{INT32_MIN, 4294966649U}}) {
        EXPECT_EQ(dvkc::nonce_seed(1000003, c.modifier), 1000003U * c.factor) << c.modifier;
    }
}

TEST(NonceSeed, WrapsAt32Bits)
{
    const std::time_t late = std::time_t{1} << 40 | 77;  // a clock past 2038 keeps its low 32 bits
    EXPECT_EQ(dvkc::nonce_seed(late, 0), 77U);
    EXPECT_EQ(dvkc::nonce_seed(4000000000, 1), 4000000000U * 2U);
}

TEST(Nonce, HasFifteenAlphanumericCharacters)
{
    std::set<std::string> seen;
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        char out[16];
        dvkc::make_nonce(seed * 7919U, out);
        const std::string nonce(out);
        ASSERT_EQ(nonce.size(), 15U);
        for (const char ch : nonce) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch))) << nonce;
        }
        seen.insert(nonce);
    }
    EXPECT_EQ(seen.size(), 200U);
}

}  // namespace
