#include <gtest/gtest.h>

#include <string>

#include "dvkc.h"

namespace {

struct EnvelopeCase {
    const char *name;
    std::string doc;
    std::int32_t doc_len;
    std::string sig;
    std::int32_t sig_len;
};

// GoogleTest would otherwise print the case's raw bytes, padding included.
void PrintTo(const EnvelopeCase &c, std::ostream *os)
{
    *os << c.name;
}

class Envelope : public ::testing::TestWithParam<EnvelopeCase> {};

// Whatever the length arguments say, the texts are copied whole and the
// document length argument is written as passed.
TEST_P(Envelope, WrapsBothTextsWhole)
{
    const EnvelopeCase &c = GetParam();
    std::int32_t len = 0;
    char *buf = nullptr;
    ASSERT_EQ(iMake_DVKRequestPKT(c.doc_len, c.doc.c_str(), c.sig_len, c.sig.c_str(), &len, &buf), 0);
    const std::string expected = "<DVKRequest>" + c.doc + "<DVKReqLength>" + std::to_string(c.doc_len) +
                                 "</DVKReqLength><Signature>" + c.sig + "</Signature></DVKRequest>";
    EXPECT_EQ(std::string(buf), expected);
    EXPECT_EQ(static_cast<std::size_t>(len), expected.size());
    vFreeData(buf);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, Envelope,
    ::testing::Values(EnvelopeCase{"exact", "<DVKReq>x</DVKReq>", 18, "c2lnbmF0dXJl", 12},
                      EnvelopeCase{"empty_signature", "<DVKReq/>", 9, "", 0},
                      EnvelopeCase{"understated", std::string(5000, 'd'), 3, std::string(3000, 's'), 1},
                      EnvelopeCase{"negative", std::string(300, 'd'), -1, std::string(300, 's'), INT32_MIN},
                      EnvelopeCase{"most_negative_doc_length", "d", INT32_MIN, "s", 1},
                      EnvelopeCase{"overstated", "doc", 1000, "sig", 1000}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EnvelopeLength, IsDocPlusSignaturePlus77PlusDigits)
{
    for (const int n : {0, 9, 10, 99999}) {
        const std::string doc(static_cast<std::size_t>(n), 'a');
        std::int32_t len = 0;
        char *buf = nullptr;
        ASSERT_EQ(iMake_DVKRequestPKT(n, doc.c_str(), 4, "abcd", &len, &buf), 0);
        EXPECT_EQ(len, n + 4 + 77 + static_cast<std::int32_t>(std::to_string(n).size()));
        vFreeData(buf);
    }
}

TEST(EnvelopeNulls, ReturnMinusOneAndTouchNothing)
{
    std::int32_t len = -7;
    char *buf = nullptr;
    EXPECT_EQ(iMake_DVKRequestPKT(1, nullptr, 1, "s", &len, &buf), -1);
    EXPECT_EQ(iMake_DVKRequestPKT(1, "d", 1, nullptr, &len, &buf), -1);
    EXPECT_EQ(iMake_DVKRequestPKT(1, "d", 1, "s", nullptr, &buf), -1);
    EXPECT_EQ(iMake_DVKRequestPKT(1, "d", 1, "s", &len, nullptr), -1);
    EXPECT_EQ(len, -7);
    EXPECT_EQ(buf, nullptr);
}

}  // namespace
