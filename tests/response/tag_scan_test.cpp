#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "page_end.h"
#include "response/tag_scan.h"

namespace {

using dvkc::iGetTagText;
using dvkc::pFindTag;
using dvkc::pSkipTag;
using dvkc::test::PageEndText;

struct GetCase {
    const char *name;
    std::string text;
    std::int32_t limit;
    std::int32_t max_chars;
    std::int32_t result;
    const char *out;
};

// GoogleTest would otherwise print the case's raw bytes, padding included.
void PrintTo(const GetCase &c, std::ostream *os)
{
    *os << c.name;
}

class GetTagText : public ::testing::TestWithParam<GetCase> {};

// Every text sits at the end of a page followed by an inaccessible one, so a
// read past its NUL faults; and the text must be unchanged afterwards.
TEST_P(GetTagText, ExtractsWithinTheLimit)
{
    const GetCase &c = GetParam();
    PageEndText text(c.text);
    char out[64];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(iGetTagText(text.data(), "<a>", "</a>", c.limit, out, c.max_chars), c.result);
    EXPECT_STREQ(out, c.out);
    EXPECT_EQ(std::string(text.data()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetTagText,
                         ::testing::Values(GetCase{"cut_to_max", "<a>xyz</a>", 0, 2, 2, "xy"},
                                           GetCase{"whole", "<a>xyz</a>", 0, 10, 3, "xyz"},
                                           GetCase{"empty_element", "<a></a>", 0, 10, 0, ""},
                                           GetCase{"limit_inside_content", "<a>xyz</a>", 5, 10, 0, ""},
                                           GetCase{"limit_cuts_closing_tag", "<a>xyz</a>", 9, 10, 0, ""},
                                           GetCase{"limit_exactly_fits", "<a>xyz</a>", 10, 10, 3, "xyz"},
                                           GetCase{"limit_beyond_text", "<a>xyz</a>", 1000000, 10, 3, "xyz"},
                                           GetCase{"negative_limit_is_whole_text", "<a>xyz</a>", -3, 10, 3, "xyz"},
                                           GetCase{"closing_before_opening_ignored", "</a><a>q</a>", 0, 10, 1, "q"},
                                           GetCase{"no_closing", "<a>xyz", 0, 10, 0, ""},
                                           GetCase{"partial_closing_at_end", "<a>xyz</", 0, 10, 0, ""},
                                           GetCase{"partial_opening_at_end", "xx<a", 0, 10, 0, ""},
                                           GetCase{"absent", "nothing here", 0, 10, 0, ""},
                                           GetCase{"empty_text", "", 0, 10, 0, ""},
                                           GetCase{"first_occurrence", "<a>1</a><a>2</a>", 0, 10, 1, "1"},
                                           GetCase{"zero_max", "<a>xyz</a>", 0, 0, 0, ""}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GetTagTextNul, StopsAtTheNulWhateverTheLimit)
{
    // The closing tag lies after a NUL: it is not part of the text.
    const std::string raw("<a>xy\0</a>", 10);
    PageEndText text(raw);
    char out[16];
    EXPECT_EQ(iGetTagText(text.data(), "<a>", "</a>", 10, out, 10), 0);
}

TEST(GetTagTextLimit, NeverReadsPastTheLimit)
{
    // No NUL at all: the limit alone must stop every search at the page end.
    PageEndText text("<a>xyz</a>", false);
    char out[16];
    EXPECT_EQ(iGetTagText(text.data(), "<a>", "</a>", 10, out, 10), 3);
    EXPECT_EQ(iGetTagText(text.data(), "<a>", "</a>", 9, out, 10), 0);
    EXPECT_EQ(pFindTag(text.data(), "<b>", 10), nullptr);
    EXPECT_EQ(pSkipTag(text.data(), "</a>", 10), text.data() + 10);
}

TEST(GetTagTextLimit, FindsTagsAcrossSearchWindows)
{
    // Occurrences straddling every window boundary a growing search may use.
    for (std::size_t pad = 100; pad < 700; ++pad) {
        const std::string raw = std::string(pad, '.') + "<a>q</a>";
        PageEndText text(raw, false);
        char out[4];
        ASSERT_EQ(iGetTagText(text.data(), "<a>", "</a>", static_cast<std::int32_t>(raw.size()), out, 3), 1) << pad;
        ASSERT_EQ(pFindTag(text.data(), "<a>", static_cast<std::int32_t>(raw.size())), text.data() + pad);
        // The tag ends at the limit: the last window may hold one character of it.
        PageEndText tail(std::string(pad, '.') + "<a>", false);
        const auto end = static_cast<std::int32_t>(pad + 3);
        ASSERT_EQ(pFindTag(tail.data(), "<a>", end), tail.data() + pad) << pad;
        ASSERT_EQ(pFindTag(tail.data(), "<a>", end - 1), nullptr) << pad;
    }
}

TEST(FindTag, ReturnsFirstOccurrenceWithinLimit)
{
    PageEndText text("ab<Rec>cd<Rec>");
    EXPECT_EQ(pFindTag(text.data(), "<Rec>", 0), text.data() + 2);
    EXPECT_EQ(pFindTag(text.data(), "<Rec>", 7), text.data() + 2);
    EXPECT_EQ(pFindTag(text.data(), "<Rec>", 6), nullptr);
    EXPECT_EQ(pFindTag(text.data(), "<Rec>", 14), text.data() + 2);
    EXPECT_EQ(pFindTag(text.data() + 3, "<Rec>", 0), text.data() + 9);
    EXPECT_EQ(pFindTag(text.data(), "<Nope>", 0), nullptr);
}

TEST(SkipTag, ReturnsPositionAfterTheTag)
{
    PageEndText text("x</TotalCount>y</TotalCount>");
    EXPECT_EQ(pSkipTag(text.data(), "</TotalCount>", 0), text.data() + 14);
    PageEndText at_end("x</TotalCount>");
    const char *end = pSkipTag(at_end.data(), "</TotalCount>", 0);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(*end, '\0');
    EXPECT_EQ(pSkipTag(at_end.data(), "</TotalCount>", 13), nullptr);
}

}  // namespace
