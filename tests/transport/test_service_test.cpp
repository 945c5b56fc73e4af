// The test service and its helpers, which the command-line tool's sample
// service reuses: HTTP framing, reading a query, the echo answer, lifecycle.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dvk_request.h"
#include "echo_answer.h"
#include "exchange_helpers.h"
#include "http_framing.h"

namespace dvkc::test {
namespace {

// --- HTTP framing ---

struct LengthCase {
    const char *headers;
    std::optional<std::size_t> expected;
};

void PrintTo(const LengthCase &c, std::ostream *out)
{
    *out << '"' << c.headers << '"';
}

class ContentLength : public testing::TestWithParam<LengthCase> {};

TEST_P(ContentLength, ReadsOnlyOnePlainNumber)
{
    EXPECT_EQ(content_length(GetParam().headers), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(TestService, ContentLength,
                         testing::Values(LengthCase{"Content-length: 19\r\n", 19},
                                         LengthCase{"Content-type: x\r\ncontent-LENGTH:7\r\n", 7},
                                         LengthCase{"Content-length:  0 \r\n", 0},
                                         LengthCase{"Content-type: x\r\n", std::nullopt},
                                         LengthCase{"Content-length: -82\r\n", std::nullopt},
                                         LengthCase{"Content-length: +5\r\n", std::nullopt},
                                         LengthCase{"Content-length: 19x\r\n", std::nullopt},
                                         LengthCase{"Content-length: \r\n", std::nullopt},
                                         LengthCase{"Content-length: 1\r\nContent-length: 1\r\n", std::nullopt},
                                         LengthCase{"Content-lengthy: 3\r\n", std::nullopt}));

TEST(HttpFraming, RequestCompleteOnceTheBodyIsIn)
{
    const std::string head = "POST /p HTTP/1.0\r\nContent-length: 3\r\n\r\n";
    EXPECT_FALSE(request_complete("POST /p HTTP/1.0\r\nContent-length: 3\r\n"));
    EXPECT_FALSE(request_complete(head + "ab"));
    EXPECT_TRUE(request_complete(head + "abc"));
    EXPECT_TRUE(request_complete(head + "abcdef"));
    EXPECT_TRUE(request_complete("GET / HTTP/1.0\r\n\r\n"));
}

TEST(HttpFraming, SplitsRequestLineHeadersAndBody)
{
    const auto parts = split_request("POST http://h/p HTTP/1.0\r\nA: 1\r\nB: 2\r\n\r\nbody");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->method, "POST");
    EXPECT_EQ(parts->target, "http://h/p");
    EXPECT_EQ(parts->version, "HTTP/1.0");
    EXPECT_EQ(parts->headers, "A: 1\r\nB: 2\r\n");
    EXPECT_EQ(parts->body, "body");
    EXPECT_FALSE(split_request("POST http://h/p HTTP/1.0\r\n"));
    EXPECT_FALSE(split_request("garbage\r\n\r\n"));
    EXPECT_FALSE(split_request("POST  HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(http_answer(400, "Bad Request", "x"),
              "HTTP/1.0 400 Bad Request\r\nContent-type: text/xml\r\nContent-length: 1\r\n\r\nx");
}

// --- Reading a query and the echo answer ---

const std::string kQuery =
    "POST http://127.0.0.1/p HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\n"
    "Content-length: 999\r\n\r\nDVKRequestXMLData="
    "<DVKRequest><DVKReq><ClientID>C1</ClientID><Nonce>N1</Nonce><ReqTime>20240102030405</ReqTime>"
    "<TotalCount>2</TotalCount><Rec><ID>0</ID><SN>A1</SN><SSID>abcdef</SSID></Rec>"
    "<Rec><ID>1</ID><SN>B</SN><SSID>xy</SSID></Rec></DVKReq><DVKReqLength>200</DVKReqLength>"
    "<Signature>S</Signature></DVKRequest>";

TEST(DvkRequest, ReadsEveryField)
{
    std::string why;
    const auto request = parse_dvk_request(kQuery, &why);
    ASSERT_TRUE(request) << why;
    EXPECT_EQ(request->client_id, "C1");
    EXPECT_EQ(request->nonce, "N1");
    EXPECT_EQ(request->req_time, "20240102030405");
    EXPECT_EQ(request->total_count, "2");
    EXPECT_EQ(request->req_length, "200");
    EXPECT_EQ(request->signature, "S");
    ASSERT_EQ(request->records.size(), 2U);
    EXPECT_EQ(request->records[0].sn, "A1");
    EXPECT_EQ(request->records[0].ssid, "abcdef");
    EXPECT_EQ(request->records[1].id, "1");
}

TEST(DvkRequest, MalformedQueriesGiveAReason)
{
    const auto reason = [](const std::string &raw) {
        std::string why;
        EXPECT_FALSE(parse_dvk_request(raw, &why));
        return why;
    };
    EXPECT_EQ(reason("not http"), "not an HTTP request");
    EXPECT_EQ(reason("GET / HTTP/1.0\r\n\r\n"), "not a POST");
    EXPECT_EQ(reason("POST / HTTP/1.0\r\n\r\nOther=1"), "no DVKRequestXMLData form field");
    EXPECT_EQ(reason("POST / HTTP/1.0\r\n\r\nDVKRequestXMLData=<DVKReq></DVKReq>"), "no DVKRequest element");
    std::string without_nonce = kQuery;
    without_nonce.replace(without_nonce.find("<Nonce>"), 16, "");
    EXPECT_EQ(reason(without_nonce), "no Nonce element");
    std::string without_ssid = kQuery;
    without_ssid.replace(without_ssid.find("<SSID>xy</SSID>"), 15, "");
    EXPECT_EQ(reason(without_ssid), "no SSID element");
}

TEST(EchoAnswer, EchoesTheQueryWithCodesFromTheSerials)
{
    const auto request = parse_dvk_request(kQuery);
    ASSERT_TRUE(request);
    EXPECT_EQ(default_code("A1"), 114);
    EXPECT_EQ(answer_body(*request),
              "<DVKResponse><ClientID>C1</ClientID><Nonce>N1</Nonce><ReqTime>20240102030405</ReqTime>"
              "<TotalCount>2</TotalCount><Rec><ID>0</ID><SN>A1</SN><SSID4>abcd</SSID4><Code>114</Code></Rec>"
              "<Rec><ID>1</ID><SN>B</SN><SSID4>xy</SSID4><Code>66</Code></Rec></DVKResponse>");
    EXPECT_EQ(echo_answer(*request).rfind("HTTP/1.0 200 OK\r\n", 0), 0U);
    EXPECT_EQ(echo_handler()(ServiceRequest{"POST / HTTP/1.0\r\n\r\n", "peer"}).rfind("HTTP/1.0 400 ", 0), 0U);
}

// --- The service itself ---

// A plain TCP connection to the service that sends nothing.
class IdleConnection {
public:
    explicit IdleConnection(std::uint16_t port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
            throw std::runtime_error("cannot connect to the service");
        }
    }
    IdleConnection(const IdleConnection &) = delete;
    IdleConnection &operator=(const IdleConnection &) = delete;
    ~IdleConnection() { close(fd_); }

private:
    int fd_ = -1;
};

TEST(TlsServiceLifecycle, StopIsIdempotentAndStartIsOnce)
{
    TlsService never_started({shared_pki().full_chain}, fixed_answer("x"));
    EXPECT_NE(never_started.port(), 0);
    never_started.stop();
    never_started.stop();

    TlsService service({shared_pki().full_chain}, fixed_answer("x"));
    service.start();
    EXPECT_THROW(service.start(), std::runtime_error);
    service.stop();
    service.stop();
    EXPECT_THROW(service.start(), std::runtime_error);
}

TEST(TlsServiceLifecycle, BadIdentityOrAddressIsRefusedUpFront)
{
    const ThrowawayPki &pki = shared_pki();
    EXPECT_THROW(TlsService({{pki.leaf_cert, pki.unrelated_leaf_key}}, fixed_answer("x")), std::runtime_error);
    EXPECT_THROW(TlsService({{pki.trust_not_pem, pki.leaf_key}}, fixed_answer("x")), std::runtime_error);
    ServiceOptions options;
    options.identity = pki.full_chain;
    options.bind_address = "not-an-address";
    EXPECT_THROW(TlsService(options, fixed_answer("x")), std::runtime_error);
    EXPECT_THROW(TlsService({pki.full_chain}, Handler{}), std::runtime_error);
}

TEST(TlsServiceLifecycle, PortInUseIsRefusedWithoutLeakingDescriptors)
{
    const TlsService first({shared_pki().full_chain}, fixed_answer("x"));
    ServiceOptions options;
    options.identity = shared_pki().full_chain;
    options.port = first.port();
    const auto descriptors = [] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            ++count;
        }
        return count;
    };
    const std::size_t before = descriptors();
    EXPECT_THROW(TlsService(options, fixed_answer("x")), std::runtime_error);
    EXPECT_EQ(descriptors(), before);
}

// A client that connects and says nothing holds up no one else, and stop()
// still ends its connection.
TEST(TlsServiceConcurrency, IdleClientDoesNotBlockOthers)
{
    ServiceOptions options;
    options.identity = shared_pki().full_chain;
    options.concurrent = true;
    const auto service = start_service(options, fixed_answer("HTTP/1.0 200 OK\r\n\r\nhello"));
    const IdleConnection idle(service->port());
    for (int i = 0; i < 3; ++i) {
        const Received received = send_request(service->port(), shared_pki().trust_root_intermediate);
        EXPECT_EQ(received.result, 0);
        EXPECT_EQ(received.text(), "HTTP/1.0 200 OK\r\n\r\nhello");
    }
    service->stop();
    EXPECT_EQ(service->connections_accepted(), 4U);
    EXPECT_EQ(service->answers_sent(), 3U);
}

TEST(TlsServiceErrors, HandlerExceptionDropsOneConnectionOnly)
{
    std::mutex mutex;
    std::vector<std::string> errors;
    std::atomic<int> calls{0};
    ServiceOptions options;
    options.identity = shared_pki().full_chain;
    options.on_error = [&](std::string_view what) {
        const std::lock_guard lock(mutex);
        errors.emplace_back(what);
    };
    const auto service = start_service(options, [&](const ServiceRequest &) -> std::string {
        if (calls.fetch_add(1) == 0) {
            throw std::runtime_error("first one fails");
        }
        return "HTTP/1.0 200 OK\r\n\r\nsecond";
    });
    const Received first = send_request(service->port(), shared_pki().trust_root_intermediate);
    EXPECT_EQ(first.result, 0);
    EXPECT_EQ(first.length, 0);  // closed without an answer
    const Received second = send_request(service->port(), shared_pki().trust_root_intermediate);
    EXPECT_EQ(second.text(), "HTTP/1.0 200 OK\r\n\r\nsecond");
    service->stop();
    const std::lock_guard lock(mutex);
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_NE(errors[0].find("first one fails"), std::string::npos);
}

}  // namespace
}  // namespace dvkc::test
