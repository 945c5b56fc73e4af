#include <gtest/gtest.h>

#include "response/read_number.h"

namespace {

struct NumberCase {
    const char *text;
    std::int32_t value;
};

// GoogleTest would otherwise print the case's raw bytes, padding included.
void PrintTo(const NumberCase &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class ReadNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumber, ReadsLikeAtoiButSaturates)
{
    EXPECT_EQ(dvkc::read_number(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadNumber,
                         ::testing::Values(NumberCase{"0", 0}, NumberCase{"42", 42}, NumberCase{"-5", -5},
                                           NumberCase{"+7", 7}, NumberCase{"-", 0}, NumberCase{"", 0},
                                           NumberCase{"abc", 0}, NumberCase{"12ab", 12}, NumberCase{" \t\n\v\f\r 9", 9},
                                           NumberCase{"- 9", 0}, NumberCase{"007", 7},
                                           NumberCase{"2147483647", INT32_MAX}, NumberCase{"2147483648", INT32_MAX},
                                           NumberCase{"4294967297", INT32_MAX}, NumberCase{"99999999999", INT32_MAX},
                                           NumberCase{"-2147483648", INT32_MIN}, NumberCase{"-2147483649", INT32_MIN},
                                           NumberCase{"-99999999999999999999999", INT32_MIN},
                                           NumberCase{"00000000000000000000000000012", 12}));

}  // namespace
