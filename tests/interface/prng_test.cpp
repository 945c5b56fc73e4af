#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "interface/prng.h"

namespace {

// The generator's definition, computed independently in 64-bit arithmetic.
std::vector<std::int32_t> reference_draws(std::uint64_t state, int n)
{
    std::vector<std::int32_t> out;
    for (int i = 0; i < n; ++i) {
        state = (state * 214013 + 2531011) % 4294967296ULL;
        out.push_back(static_cast<std::int32_t>((state >> 16) & 0x7FFF));
    }
    return out;
}

TEST(Prng, FollowsTheDefinition)
{
    for (const std::uint32_t seed : {0U, 1U, 12345U, 0xFFFFFFFFU}) {
        dvkc::prng::seed(seed);
        for (const std::int32_t expected : reference_draws(seed, 50)) {
            EXPECT_EQ(dvkc::prng::draw(), expected) << "seed " << seed;
        }
    }
}

TEST(Prng, SeedOneMatchesTheClassicSequence)
{
    dvkc::prng::seed(1);
    EXPECT_EQ(dvkc::prng::draw(), 41);
    EXPECT_EQ(dvkc::prng::draw(), 18467);
    EXPECT_EQ(dvkc::prng::draw(), 6334);
}

TEST(Prng, EachThreadHasItsOwnState)
{
    dvkc::prng::seed(7);
    const auto expected = reference_draws(7, 20);
    std::thread other([] {
        dvkc::prng::seed(99);
        for (int i = 0; i < 1000; ++i) {
            dvkc::prng::draw();
        }
    });
    other.join();
    for (const std::int32_t e : expected) {
        EXPECT_EQ(dvkc::prng::draw(), e);
    }
}

TEST(Prng, LeavesTheHostRandUntouched)
{
    std::srand(42);
    const int first = std::rand();
    std::srand(42);
    dvkc::prng::seed(5);
    dvkc::prng::draw();
    EXPECT_EQ(std::rand(), first);
}

}  // namespace
