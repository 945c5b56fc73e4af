#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "interface/text_buffer.h"

namespace {

TEST(TextBuffer, FirstOverflowIsStickyAndReleasesNothing)
{
    dvkc::TextBuffer buffer(8);
    ASSERT_TRUE(buffer.ok());
    EXPECT_TRUE(buffer.append("12345"));
    EXPECT_FALSE(buffer.append("6789"));  // one byte too many: nothing of it is kept
    EXPECT_TRUE(buffer.overflowed());
    EXPECT_EQ(std::string(buffer.data()), "12345");
    EXPECT_FALSE(buffer.append("6"));  // would fit, but the overflow stays
    EXPECT_FALSE(buffer.append(std::int64_t{7}));
    EXPECT_EQ(buffer.size(), 5U);
    EXPECT_EQ(buffer.release(), nullptr);
}

TEST(TextBuffer, ExactFitIsNoOverflow)
{
    dvkc::TextBuffer buffer(8);
    EXPECT_TRUE(buffer.append("1234"));
    EXPECT_TRUE(buffer.append(std::int64_t{-123}));
    EXPECT_FALSE(buffer.overflowed());
    char *text = buffer.release();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "1234-123");
    std::free(text);
}

}  // namespace
