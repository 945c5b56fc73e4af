#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dvkc.h"

namespace {

struct HexCase {
    const char *name;
    std::vector<unsigned char> bytes;
    std::int32_t count;
    const char *expected;
};

void PrintTo(const HexCase &c, std::ostream *os)
{
    *os << c.name;
}

class Bin2HexTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(Bin2HexTest, WritesUppercaseDigitsAndNul)
{
    const HexCase &c = GetParam();
    std::string out(2 * c.bytes.size() + 8, '#');
    EXPECT_EQ(bin2hex(c.bytes.data(), c.count, out.data()), 0);
    EXPECT_STREQ(out.c_str(), c.expected);
    // Nothing after the NUL is touched.
    const std::size_t nul = std::string(c.expected).size();
    for (std::size_t i = nul + 1; i < out.size(); ++i) {
        EXPECT_EQ(out[i], '#') << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Bin2HexTest,
    ::testing::Values(HexCase{"three_bytes", {0x00, 0xAB, 0xFF}, 3, "00ABFF"},
                      HexCase{"all_digits", {0x01, 0x23, 0x45, 0x67, 0x89, 0xCD, 0xEF}, 7, "0123456789CDEF"},
                      HexCase{"count_zero", {0x10}, 0, ""},                // count 0: the empty text
                      HexCase{"count_below_size", {0x10, 0x20}, 1, "10"},  // only count bytes are read
                      HexCase{"negative_count", {0x10, 0x20}, -1, ""},     // negative count is taken as 0
                      HexCase{"most_negative_count", {0x7F}, INT32_MIN, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Bin2Hex, NullOutputWritesNothing)
{
    const unsigned char bytes[] = {1, 2};
    EXPECT_EQ(bin2hex(bytes, 2, nullptr), 0);
}

TEST(FreeData, NullIsIgnored)
{
    vFreeData(nullptr);
}

}  // namespace
