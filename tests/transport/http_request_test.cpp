// The request text on its own, byte for byte.
#include "transport/http_request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace dvkc::transport {
namespace {

struct FormatCase {
    const char *name;
    std::string host;
    std::string path;
    std::int32_t body_len;
    std::string body;
    std::string content_length;
};

void PrintTo(const FormatCase &c, std::ostream *out)
{
    *out << c.name;
}

class RequestFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(RequestFormat, ExactTextAndLength)
{
    const FormatCase &c = GetParam();
    const RequestParts parts{c.host, c.path, c.body_len, c.body};
    const std::string expected = "POST http://" + c.host + c.path + " HTTP/1.0\r\n" +
                                 "Content-type: application/x-www-form-urlencoded\r\n" +
                                 "Content-length: " + c.content_length + "\r\n\r\n" + "DVKRequestXMLData=" + c.body;
    ASSERT_EQ(request_text_length(parts), expected.size());
    TextBuffer buffer(request_text_length(parts));
    ASSERT_TRUE(buffer.ok());
    ASSERT_TRUE(format_request(parts, buffer));
    EXPECT_EQ(buffer.view(), expected);
    EXPECT_EQ(buffer.data()[expected.size()], '\0');
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(Transport, RequestFormat,
                         testing::Values(FormatCase{"HostHPathPBodyX", "h", "/p", 1, "X", "19"},
                                         FormatCase{"EmptyEverything", "", "", 0, "", "18"},
                                         FormatCase{"PathWithoutSlashIsJoinedAsIs", "h", "p", 1, "X", "19"},
                                         FormatCase{"LongHostAndPath", std::string(3000, 'h'),
                                                    "/" + std::string(3000, 'p'), 1, "X", "19"},
                                         // The length argument sets Content-length only; the text is copied whole.
                                         FormatCase{"UnderstatedLength", "h", "/p", 1, std::string(500, 'b'), "19"},
                                         FormatCase{"OverstatedLength", "h", "/p", 1000, "X", "1018"},
                                         FormatCase{"NegativeLength", "h", "/p", -1, "X", "17"},
                                         FormatCase{"LengthMinus18", "h", "/p", -18, "X", "0"},
                                         FormatCase{"SmallestLength", "h", "/p", kMin, "X", "-2147483630"},
                                         FormatCase{"LargestLengthDoesNotWrap", "h", "/p", kMax, "X", "2147483665"},
                                         FormatCase{"BodyIsNotEncoded", "h", "/p", 9, "a b&c=d%", "27"}),
                         [](const testing::TestParamInfo<FormatCase> &info) { return std::string(info.param.name); });

TEST(RequestFormat, TooSmallBufferIsReportedAndNotOverrun)
{
    const RequestParts parts{"h", "/p", 1, "X"};
    TextBuffer buffer(request_text_length(parts) - 1);
    ASSERT_TRUE(buffer.ok());
    EXPECT_FALSE(format_request(parts, buffer));
    EXPECT_EQ(buffer.size(), request_text_length(parts) - 1);
}

}  // namespace
}  // namespace dvkc::transport
