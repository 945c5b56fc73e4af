// dvkc.hpp: ownership, the Query type, errors and the words for results.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dvkc.hpp"
#include "temp_dir.h"

namespace {

using dvkc::Call;

std::vector<std::int32_t> documented(Call call)
{
    std::vector<std::int32_t> codes{0, -1};
    switch (call) {
    case Call::build:
        codes.push_back(-2);
        break;
    case Call::wrap:
        break;
    case Call::exchange:
        for (int c = -2; c >= -17; --c) {
            codes.push_back(c);
        }
        break;
    case Call::parse:
        for (int c = 2000; c <= 2017; ++c) {
            if (c != 2010) {
                codes.push_back(c);
            }
        }
        break;
    }
    return codes;
}

TEST(Describe, EveryResultOfEveryCallHasItsOwnWords)
{
    std::set<std::string_view> seen;
    std::size_t count = 0;
    for (const Call call : {Call::build, Call::wrap, Call::exchange, Call::parse}) {
        for (const std::int32_t code : documented(call)) {
            const std::string_view words = dvkc::describe(call, code);
            EXPECT_NE(words, dvkc::unknown_result_words) << dvkc::call_name(call) << " " << code;
            EXPECT_TRUE(seen.insert(words).second) << "same words twice: " << words;
            ++count;
        }
    }
    EXPECT_EQ(count, std::size(dvkc::result_table));
}

TEST(Describe, UnknownResults)
{
    EXPECT_EQ(dvkc::describe(Call::parse, 2010), dvkc::unknown_result_words);
    EXPECT_EQ(dvkc::describe(Call::wrap, -2), dvkc::unknown_result_words);
    EXPECT_EQ(dvkc::describe(Call::exchange, -18), dvkc::unknown_result_words);
    EXPECT_EQ(dvkc::describe(Call::build, 2000), dvkc::unknown_result_words);
}

TEST(Error, MessageNamesCallCodeWordsAndErrId)
{
    EXPECT_STREQ(dvkc::Error(Call::parse, 2005).what(),
                 "iParse_DVKResponsePKT 2005: the answer's nonce is not the one we sent");
    const dvkc::Error refused(Call::parse, 2000, 42);
    EXPECT_EQ(refused.err_id(), 42);
    EXPECT_STREQ(refused.what(), "iParse_DVKResponsePKT 2000: the service reported an error (ErrID 42)");
    EXPECT_EQ(dvkc::Error(Call::exchange, -9).words(), dvkc::describe(Call::exchange, -9));
}

TEST(Query, RejectsTextsTheTableCannotHold)
{
    dvkc::Query query;
    EXPECT_NO_THROW(query.add(std::string(16, 's'), std::string(10, 'i')));
    EXPECT_THROW(query.add(std::string(17, 's'), "i"), std::invalid_argument);
    EXPECT_THROW(query.add("s", std::string(11, 'i')), std::invalid_argument);
    EXPECT_THROW(query.add(std::string("a\0b", 3), "i"), std::invalid_argument);
    EXPECT_EQ(query.size(), 1U);
    EXPECT_EQ(query.context().TotalCount, 1);
    EXPECT_EQ(query.sn(0), std::string(16, 's'));
    EXPECT_EQ(query.code(0), -1);
}

TEST(Query, ContextFollowsTheTableThroughCopiesAndMoves)
{
    dvkc::Query query;
    for (int i = 0; i < 100; ++i) {
        query.add("SN" + std::to_string(i), "X");  // reallocates the table several times
    }
    EXPECT_EQ(std::string_view(query.context().Records[0].SN), "SN0");
    EXPECT_EQ(std::string_view(query.context().Records[99].SN), "SN99");
    dvkc::Query copy = query;
    EXPECT_NE(copy.context().Records, query.context().Records);
    EXPECT_EQ(copy.sn(99), "SN99");
    dvkc::Query moved = std::move(copy);
    EXPECT_EQ(moved.context().TotalCount, 100);
    EXPECT_EQ(std::string_view(moved.context().Records[99].SN), "SN99");
    EXPECT_EQ(copy.context().TotalCount, 0);  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(copy.context().Records, nullptr);
    query = moved;
    EXPECT_EQ(std::string_view(query.context().Records[5].SN), "SN5");
}

class OfflineQuery : public testing::Test {
protected:
    dvkc::sample::TempDir dir;
    std::string identity = dir.write_file("identity", "client");
};

TEST_F(OfflineQuery, BuildWrapAndParseACannedAnswer)
{
    dvkc::Query query;
    query.add("SN-1", "ABCDEF");
    query.add("SN-2", "GH");
    const dvkc::Buffer document = query.build(7, identity);
    EXPECT_EQ(static_cast<std::size_t>(document.length()), std::string_view(document.c_str()).size());
    EXPECT_EQ(document.view().substr(0, 8), "<DVKReq>");
    EXPECT_EQ(query.client_id().size(), 40U);
    EXPECT_EQ(query.nonce().size(), 15U);

    const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), "SIG");
    EXPECT_NE(envelope.view().find("<Signature>SIG</Signature>"), std::string_view::npos);

    const std::string answer = "HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ClientID>" + std::string(query.client_id()) +
                               "</ClientID><Nonce>" + std::string(query.nonce()) +
                               "</Nonce><ReqTime>1</ReqTime><TotalCount>2</TotalCount>"
                               "<Rec><ID>0</ID><SN>SN-1</SN><SSID4>ABCD</SSID4><Code>3</Code></Rec>"
                               "<Rec><ID>1</ID><SN>SN-2</SN><SSID4>GH</SSID4><Code>-4</Code></Rec></DVKResponse>";
    query.parse(answer);
    EXPECT_EQ(query.code(0), 3);
    EXPECT_EQ(query.code(1), -4);
}

TEST_F(OfflineQuery, TableChangedThroughTheContextIsRestoredBeforeEachCall)
{
    dvkc::Query query;
    query.add("SN-1", "A");
    query.context().TotalCount = 500;  // would make the library write far past the table
    const dvkc::Buffer document = query.build(1, identity);
    EXPECT_EQ(query.context().TotalCount, 1);
    EXPECT_EQ(document.view().find("<ID>1</ID>"), std::string_view::npos);
}

TEST_F(OfflineQuery, FailuresBecomeErrors)
{
    dvkc::Query query;
    query.add("SN-1", "A");
    try {
        query.build(0, (dir.path() / "missing").string());
        FAIL() << "no exception";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.call(), Call::build);
        EXPECT_EQ(e.code(), -1);
    }
    (void)query.build(0, identity);
    try {
        query.parse("HTTP/1.0 200 OK\r\n\r\n<ErrID>31</ErrID>");
        FAIL() << "no exception";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.code(), 2000);
        EXPECT_EQ(e.err_id(), 31);
        EXPECT_EQ(query.err_id(), 31);
    }
    try {
        query.parse("HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ClientID>" + std::string(query.client_id()) +
                    "</ClientID><Nonce>wrong</Nonce>");
        FAIL() << "no exception";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.code(), 2005);
    }
    EXPECT_EQ(query.code(0), -1);
}

TEST_F(OfflineQuery, ExchangeFailureIsAnError)
{
    try {
        (void)dvkc::exchange({"127.0.0.1", 443, "/", (dir.path() / "no-trust.pem").string()}, "body");
        FAIL() << "no exception";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.call(), Call::exchange);
        EXPECT_EQ(e.code(), -6);
    }
}

TEST(Buffer, OwnsAndReleases)
{
    dvkc::Buffer empty;
    EXPECT_FALSE(empty);
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.view().size(), 0U);

    dvkc::Buffer envelope = dvkc::make_envelope("doc", "");
    ASSERT_TRUE(envelope);
    dvkc::Buffer moved = std::move(envelope);
    EXPECT_FALSE(envelope);  // NOLINT(bugprone-use-after-move)
    char *raw = moved.release();
    EXPECT_FALSE(moved);
    vFreeData(raw);  // the leak checker of the asan preset proves the rest is freed
}

}  // namespace
