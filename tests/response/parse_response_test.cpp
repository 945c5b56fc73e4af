#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "dvkc.h"
#include "page_end.h"

namespace {

using dvkc::test::PageEndText;

constexpr const char *kCid = "0123456789ABCDEF0123456789ABCDEF01234567";
constexpr const char *kNonce = "abcDEF123456789";
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n";
constexpr std::int32_t kUnset = -1;
constexpr std::int32_t kStaleErrId = 31;

std::string rec(const std::string &id, const std::string &code)
{
    return "<Rec><ID>" + id + "</ID><SN>SN" + id + "</SN><SSID4>S" + id + "</SSID4><Code>" + code + "</Code></Rec>";
}

std::string header(const std::string &count, const std::string &cid = kCid, const std::string &nonce = kNonce)
{
    return "<DVKResponse><ClientID>" + cid + "</ClientID><Nonce>" + nonce +
           "</Nonce><ReqTime>20260101120000</ReqTime><TotalCount>" + count + "</TotalCount>";
}

std::string answer(const std::string &body)
{
    return kOk + body + "</DVKResponse>";
}

const std::string kThree = rec("0", "10") + rec("1", "20") + rec("2", "-5");

// A built context with three records and a sentinel on each side of the table.
struct Fixture {
    Fixture()
    {
        for (auto &slot : slots) {
            std::memset(&slot, 0, sizeof slot);
            slot.Code = kUnset;
        }
        slots.front().Code = 5555;
        slots.back().Code = 5555;
        std::memset(&ctx, 0, sizeof ctx);
        std::strcpy(ctx.ClientID, kCid);
        std::strcpy(ctx.Nonce, kNonce);
        ctx.ErrID = kStaleErrId;  // left from an earlier answer: every result but -1 replaces it
        ctx.TotalCount = 3;
        ctx.Records = slots.data() + 1;
    }
    std::array<QueryRecord, 5> slots{};
    QueryContext ctx{};
};

struct ParseCase {
    const char *name;
    std::string text;
    std::int32_t result;
    std::array<std::int32_t, 3> codes;
    std::int32_t err_id = 0;
};

void PrintTo(const ParseCase &c, std::ostream *os)
{
    *os << c.name;
}

class ParseLadder : public ::testing::TestWithParam<ParseCase> {};

// Each answer sits at the end of a page followed by an inaccessible page, so
// any read past its NUL faults; the answer must be unchanged by the parse.
TEST_P(ParseLadder, GivesTheExpectedResult)
{
    const ParseCase &c = GetParam();
    Fixture f;
    PageEndText text(c.text);
    const auto len = static_cast<std::int32_t>(c.text.size());
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, len, text.data()), c.result);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(f.ctx.Records[i].Code, c.codes[i]) << "record " << i;
    }
    EXPECT_EQ(f.ctx.ErrID, c.result == -1 ? kStaleErrId : c.err_id);
    EXPECT_EQ(f.slots.front().Code, 5555);
    EXPECT_EQ(f.slots.back().Code, 5555);
    EXPECT_EQ(std::string(text.data(), c.text.size()), c.text);
}

const std::array<std::int32_t, 3> kNone{kUnset, kUnset, kUnset};
const std::array<std::int32_t, 3> kAll{10, 20, -5};

std::string with_field(const std::string &field, const std::string &value)
{
    return answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4><Code>1</Code>" + field + value + "</Rec>");
}

// One record of the usual layout, with Code 7.
std::string with_sn(const std::string &sn)
{
    return answer(header("1") + "<Rec><ID>0</ID><SN>" + sn + "</SN><SSID4>i</SSID4><Code>7</Code></Rec>");
}

INSTANTIATE_TEST_SUITE_P(
    Status, ParseLadder,
    ::testing::Values(
        ParseCase{"http11_200", answer(header("3") + kThree), 0, kAll},
        ParseCase{"http10_lowercase", "http/1.0 200 ok\r\n\r\n" + header("3") + kThree + "</DVKResponse>", 0, kAll},
        ParseCase{"status_404", "HTTP/1.1 404 Not Found\r\n\r\n" + header("3") + kThree, -1, kNone},
        ParseCase{"not_http", "HTTX/1.1 200 OK\r\n\r\n" + header("3") + kThree, -1, kNone},
        ParseCase{"200_at_position_17", "HTTP/1.1 xxxxxxxx200\r\n\r\n" + header("3") + kThree, 0, kAll},
        ParseCase{"200_at_position_18", "HTTP/1.1 xxxxxxxxx200\r\n\r\n" + header("3") + kThree, -1, kNone},
        ParseCase{"shorter_than_20", "HTTP/1.0 200 OK\r\n\r\n", -1, kNone},
        ParseCase{"exactly_20_reaches_the_response_check", "HTTP/1.0 200 OK\r\n\r\nX", 2001, kNone},
        ParseCase{"nul_inside_status", std::string("HTTP/1.0 2\0", 11) + "00 OK and more text", -1, kNone}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ServiceError, ParseLadder,
    ::testing::Values(ParseCase{"err_with_normal_form", answer("<ErrID>17</ErrID>" + header("3") + kThree), 2000, kNone,
                                17},
                      ParseCase{"err_letters", answer("<ErrID>abc</ErrID>"), 2000, kNone, 0},
                      ParseCase{"err_negative", answer("<ErrID>-3</ErrID>"), 2000, kNone, -3},
                      ParseCase{"err_saturates", answer("<ErrID>4294967297</ErrID>"), 2000, kNone, INT32_MAX},
                      ParseCase{"err_empty_ignored", answer("<ErrID></ErrID>" + header("3") + kThree), 0, kAll}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Header, ParseLadder,
    ::testing::Values(
        ParseCase{"no_response_tag", kOk + "<ClientID>" + kCid + "</ClientID>", 2001, kNone},
        ParseCase{"client_id_missing", answer("<DVKResponse><Nonce>" + std::string(kNonce) + "</Nonce>"), 2002, kNone},
        ParseCase{"client_id_empty", answer(header("3", "") + kThree), 2002, kNone},
        ParseCase{"client_id_differs", answer(header("3", "0123456789ABCDEF0123456789ABCDEF01234568") + kThree), 2003,
                  kNone},
        ParseCase{"client_id_lowercase", answer(header("3", "0123456789abcdef0123456789abcdef01234567") + kThree), 2003,
                  kNone},
        ParseCase{"client_id_prefix", answer(header("3", "0123456789ABCDEF") + kThree), 2003, kNone},
        ParseCase{"nonce_empty", answer(header("3", kCid, "") + kThree), 2004, kNone},
        ParseCase{"nonce_differs", answer(header("3", kCid, "abcDEF12345678X") + kThree), 2005, kNone},
        ParseCase{"nonce_longer", answer(header("3", kCid, "abcDEF123456789X") + kThree), 2005, kNone},
        ParseCase{"req_time_missing",
                  answer("<DVKResponse><ClientID>" + std::string(kCid) + "</ClientID><Nonce>" + kNonce +
                         "</Nonce><TotalCount>3</TotalCount>" + kThree),
                  2006, kNone},
        ParseCase{"total_count_empty", answer(header("") + kThree), 2007, kNone},
        ParseCase{"total_count_blank_first", answer(header(" 3") + kThree), 2008, kNone},
        ParseCase{"total_count_plus", answer(header("+3") + kThree), 2008, kNone},
        ParseCase{"total_count_zero", answer(header("0") + kThree), 2009, kNone},
        ParseCase{"total_count_1001", answer(header("1001") + kThree), 2009, kNone},
        ParseCase{"total_count_int_max", answer(header("2147483647") + kThree), 2009, kNone},
        ParseCase{"total_count_wraps_to_one", answer(header("4294967297") + kThree), 2009, kNone},
        ParseCase{"total_count_wraps_64_bits_to_one", answer(header("18446744073709551617") + kThree), 2009, kNone},
        ParseCase{"total_count_above_table", answer(header("4") + kThree + rec("3", "40")), 2009, kNone}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Records, ParseLadder,
    ::testing::Values(
        ParseCase{
            "fewer_records_than_table", answer(header("2") + rec("0", "10") + rec("1", "20")), 0, {10, 20, kUnset}},
        ParseCase{
            "fewer_rec_tags_than_count", answer(header("3") + rec("0", "10") + rec("1", "20")), 2011, {10, 20, kUnset}},
        ParseCase{"records_before_total_count_ignored",
                  answer(rec("0", "99") + header("1") + rec("0", "10")),
                  0,
                  {10, kUnset, kUnset}},
        ParseCase{"no_closing_rec_within_500",
                  answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4><Code>1</Code>" +
                         std::string(440, ' ') + "</Rec>"),
                  2012, kNone},
        ParseCase{"closing_rec_just_within_500",
                  answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4><Code>1</Code>" +
                         std::string(439, ' ') + "</Rec>"),
                  0,
                  {1, kUnset, kUnset}},
        ParseCase{"empty_record", answer(header("1") + "<Rec></Rec>"), 2012, kNone},
        ParseCase{"id_missing", answer(header("1") + "<Rec><SN>s</SN><SSID4>i</SSID4><Code>1</Code></Rec>"), 2013,
                  kNone},
        ParseCase{"id_empty", answer(header("1") + "<Rec><ID></ID><SN>s</SN><SSID4>i</SSID4><Code>1</Code></Rec>"),
                  2013, kNone},
        ParseCase{"sn_missing", answer(header("1") + "<Rec><ID>0</ID><SSID4>i</SSID4><Code>1</Code></Rec>"), 2014,
                  kNone},
        ParseCase{"ssid4_missing", answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><Code>1</Code></Rec>"), 2015, kNone},
        ParseCase{"code_missing", answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4></Rec>"), 2016, kNone},
        ParseCase{"code_beyond_100_chars",
                  answer(header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4>" + std::string(60, ' ') +
                         "<Code>1</Code></Rec>"),
                  2016, kNone},
        ParseCase{
            "failure_at_second_record",
            answer(header("3") + rec("0", "10") + "<Rec><ID>1</ID><SN>s</SN><SSID4>i</SSID4></Rec>" + rec("2", "30")),
            2016,
            {10, kUnset, kUnset}},
        ParseCase{"code_plus", answer(header("1") + rec("0", "+5")), 2017, kNone},
        ParseCase{"code_letter", answer(header("1") + rec("0", "x5")), 2017, kNone},
        ParseCase{"code_blank", answer(header("1") + rec("0", " 5")), 2017, kNone},
        ParseCase{"code_lone_minus", answer(header("1") + rec("0", "-")), 0, {0, kUnset, kUnset}},
        ParseCase{"code_digits_then_letters", answer(header("1") + rec("0", "12ab")), 0, {12, kUnset, kUnset}},
        ParseCase{"code_saturates", answer(header("1") + rec("0", "99999999999")), 0, {INT32_MAX, kUnset, kUnset}},
        ParseCase{"code_cut_to_ten_characters",
                  answer(header("1") + rec("0", "-2147483648")),
                  0,
                  {-214748364, kUnset, kUnset}},
        ParseCase{"ssid4_cut_is_accepted", with_field("", ""), 0, {1, kUnset, kUnset}},
        // Records of the usual layout are read in one pass; its edges must
        // give what the general searches give.
        ParseCase{"usual_record_code_closes_at_char_100", with_sn(std::string(51, 's')), 0, {7, kUnset, kUnset}},
        ParseCase{"usual_record_code_closes_at_char_101", with_sn(std::string(52, 's')), 2016, kNone},
        ParseCase{"usual_record_sn_of_100_chars", with_sn(std::string(100, 's')), 2014, kNone},
        ParseCase{"usual_record_code_across_the_cut",
                  answer(header("1") + "<Rec><ID>0</ID><SN>" + std::string(55, 's') +
                         "</SN><SSID4>i</SSID4><Code>123456789</Code></Rec>"),
                  2016, kNone},
        ParseCase{"value_holding_a_less_than", with_sn("a<b"), 0, {7, kUnset, kUnset}},
        ParseCase{"answer_ends_inside_the_closing_rec",
                  kOk + header("1") + "<Rec><ID>0</ID><SN>s</SN><SSID4>i</SSID4><Code>7</Code></Re", 2012, kNone},
        ParseCase{"rec_inside_a_record_starts_the_next",
                  answer(header("2") + "<Rec><ID>0</ID><SN>a</SN><SSID4>b</SSID4><Code>1</Code>" + rec("1", "2")),
                  0,
                  {1, 2, kUnset}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ParseLimit, HeaderElementsMustLieWithinTheLength)
{
    Fixture f;
    const std::string text = answer(header("3") + kThree);
    PageEndText page(text);
    const auto nonce_end = static_cast<std::int32_t>(text.find("</Nonce>"));
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, nonce_end + 7, page.data()), 2004);  // "</Nonce" cut
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, nonce_end + 8, page.data()), 2006);
}

TEST(ParseLimit, RecordsAreSearchedBeyondTheLength)
{
    Fixture f;
    const std::string text = answer(header("3") + kThree);
    PageEndText page(text);
    const auto after_count = static_cast<std::int32_t>(text.find("</TotalCount>") + 13);
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, after_count, page.data()), 0);
    EXPECT_EQ(f.ctx.Records[2].Code, -5);
}

TEST(ParseLimit, LengthBeyondTheTextMeansTheWholeText)
{
    for (const std::int32_t len : {100000, INT32_MAX}) {
        Fixture f;
        const std::string text = answer(header("3") + kThree);
        PageEndText page(text);
        EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, len, page.data()), 0);
        EXPECT_EQ(f.ctx.Records[1].Code, 20);
    }
}

TEST(ParseLimit, TextEndsAtItsNul)
{
    Fixture f;
    const std::string text = kOk + header("3") + std::string("\0", 1) + kThree;
    PageEndText page(text);
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, static_cast<std::int32_t>(text.size()), page.data()), 2011);
}

TEST(ParseContext, HostFieldsWithoutNulAreComparedToTheirWidth)
{
    Fixture f;
    std::memset(f.ctx.Nonce, 'N', sizeof f.ctx.Nonce);      // 16 characters, no NUL
    std::memset(f.ctx.ReqTime, '7', sizeof f.ctx.ReqTime);  // what follows the Nonce: not part of it
    const std::string text = answer(header("3", kCid, std::string(16, 'N')) + kThree);
    PageEndText page(text);
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, static_cast<std::int32_t>(text.size()), page.data()), 0);
}

TEST(ParseContext, NullsAndMissingTableReturnMinusOneUntouched)
{
    Fixture f;
    f.ctx.ErrID = 31;
    const std::string text = answer("<ErrID>5</ErrID>");
    PageEndText page(text);
    const auto len = static_cast<std::int32_t>(text.size());
    EXPECT_EQ(iParse_DVKResponsePKT(nullptr, len, page.data()), -1);
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, len, nullptr), -1);
    f.ctx.Records = nullptr;
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, len, page.data()), -1);
    EXPECT_EQ(f.ctx.ErrID, 31);
}

TEST(ParseContext, EmptyTableAcceptsNoRecords)
{
    Fixture f;
    f.ctx.TotalCount = 0;
    f.ctx.Records = nullptr;
    const std::string text = answer(header("1") + rec("0", "10"));
    PageEndText page(text);
    EXPECT_EQ(iParse_DVKResponsePKT(&f.ctx, static_cast<std::int32_t>(text.size()), page.data()), 2009);
}

TEST(ParseScale, AThousandRecordsInOrder)
{
    Fixture f;
    std::vector<QueryRecord> table(1000);
    f.ctx.TotalCount = 1000;
    f.ctx.Records = table.data();
    std::string body = header("1000");
    for (int i = 0; i < 1000; ++i) {
        body += rec(std::to_string(i), std::to_string(i * 3));
    }
    const std::string text = answer(body);
    PageEndText page(text);
    ASSERT_EQ(iParse_DVKResponsePKT(&f.ctx, static_cast<std::int32_t>(text.size()), page.data()), 0);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(table[static_cast<std::size_t>(i)].Code, i * 3);
    }
}

}  // namespace
