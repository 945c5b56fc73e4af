#include <gtest/gtest.h>

#include <cstdlib>

#include "interface/text_buffer.h"

namespace {

TEST(TextBuffer, ExactFitIsKeptAndTheFirstOverflowSticks)
{
    dvkc::TextBuffer fits(8);
    EXPECT_TRUE(fits.append("1234") && fits.append(std::int64_t{-123}));
    char *text = fits.release();
    EXPECT_STREQ(text, "1234-123");
    std::free(text);

    dvkc::TextBuffer full(8);
    EXPECT_TRUE(full.append("1234"));
    EXPECT_FALSE(full.append("12345"));  // one byte too many: nothing of it is kept
    EXPECT_FALSE(full.append("-12"));    // would fit, but the overflow stays
    EXPECT_FALSE(full.append(std::int64_t{7}));
    EXPECT_STREQ(full.data(), "1234");
    EXPECT_EQ(full.release(), nullptr);
}

}  // namespace
