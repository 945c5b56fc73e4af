// The sample service: its answers, malformed requests, and concurrent
// clients through the library.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "dvkc.hpp"
#include "http_framing.h"
#include "sample_service.h"
#include "temp_dir.h"
#include "throwaway_pki.h"

namespace dvkc::sample {
namespace {

std::string http_post(const std::string &body)
{
    return "POST http://127.0.0.1/dvk HTTP/1.0\r\nContent-type: application/x-www-form-urlencoded\r\n"
           "Content-length: " +
           std::to_string(body.size() + 18) + "\r\n\r\nDVKRequestXMLData=" + body;
}

std::string query_body(int total, int records)
{
    std::string doc =
        "<DVKReq><ClientID>C1</ClientID><Nonce>N1</Nonce><ReqTime>20260101000000</ReqTime>"
        "<TotalCount>" +
        std::to_string(total) + "</TotalCount>";
    for (int i = 0; i < records; ++i) {
        doc += "<Rec><ID>" + std::to_string(i) + "</ID><SN>S" + std::to_string(i) + "</SN><SSID>ABCDEFG</SSID></Rec>";
    }
    doc += "</DVKReq>";
    return "<DVKRequest>" + doc + "<DVKReqLength>" + std::to_string(doc.size()) +
           "</DVKReqLength><Signature>x</Signature></DVKRequest>";
}

TEST(AnswerRequest, EchoesAndTakesCodesFromTheFileElseTheRule)
{
    const SampleAnswer answer = answer_request(http_post(query_body(2, 2)), {{"S1", -7}}, {});
    EXPECT_EQ(answer.summary, "records=2 result=200 answered");
    EXPECT_EQ(answer.http.rfind("HTTP/1.0 200 ", 0), 0U);
    EXPECT_NE(answer.http.find("<ClientID>C1</ClientID><Nonce>N1</Nonce><ReqTime>20260101000000</ReqTime>"
                               "<TotalCount>2</TotalCount><Rec><ID>0</ID><SN>S0</SN><SSID4>ABCD</SSID4><Code>" +
                               std::to_string(default_code("S0")) +
                               "</Code></Rec><Rec><ID>1</ID><SN>S1</SN><SSID4>ABCD</SSID4><Code>-7</Code></Rec>"
                               "</DVKResponse>"),
              std::string::npos)
        << answer.http;
    EXPECT_EQ(default_code("A1"), 114);
}

TEST(AnswerRequest, ErrorMode)
{
    const SampleAnswer answer = answer_request(http_post(query_body(1, 1)), {}, 12);
    EXPECT_NE(answer.http.find("<ErrID>12</ErrID>"), std::string::npos);
    EXPECT_EQ(answer.summary, "records=1 result=200 ErrID 12");
}

TEST(AnswerRequest, MalformedRequestsGet400)
{
    const std::string cases[] = {
        "",
        "garbage",
        "GET / HTTP/1.0\r\n\r\n",
        http_post("not a query"),
        http_post(query_body(3, 2)),  // TotalCount disagrees with the records
        http_post(query_body(0, 0)),
        http_post(query_body(1001, 1001)),
        http_post("<DVKRequest><DVKReq><ClientID>C</ClientID>"),  // cut short
    };
    for (const std::string &request : cases) {
        const SampleAnswer answer = answer_request(request, {}, {});
        EXPECT_EQ(answer.http.rfind("HTTP/1.0 400 ", 0), 0U) << request.substr(0, 80);
        EXPECT_EQ(answer.summary.find("result=400 malformed: "), 0U) << answer.summary;
    }
    EXPECT_EQ(answer_request(http_post(query_body(1000, 1000)), {}, {}).summary, "records=1000 result=200 answered");
}

class SampleServiceOverTls : public testing::Test {
protected:
    dvkc::sample::TempDir dir;
    dvkc::sample::ThrowawayPki pki = dvkc::sample::make_throwaway_pki(dir.path());
    std::string identity = dir.write_file("identity", "id");
};

TEST_F(SampleServiceOverTls, ConcurrentClientsAndAMalformedRequest)
{
    std::mutex mutex;
    std::vector<std::string> log;
    SampleServiceOptions options;
    options.identity = pki.leaf_intermediate;
    options.log = [&](std::string_view line) {
        const std::lock_guard lock(mutex);
        log.emplace_back(line);
    };
    SampleService service(options);
    service.start();
    const dvkc::Endpoint endpoint{"127.0.0.1", service.port(), "/dvk", pki.trust_root_intermediate};

    constexpr int threads = 4;
    constexpr int rounds = 3;
    std::atomic<int> answered{0};
    std::vector<std::jthread> clients;
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                dvkc::Query query;
                for (int k = 0; k <= t; ++k) {
                    query.add("T" + std::to_string(t) + "R" + std::to_string(r) + "K" + std::to_string(k), "SSID");
                }
                try {
                    const dvkc::Buffer document = query.build(t * 10 + r, identity);
                    const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), "sig");
                    query.parse(dvkc::exchange(endpoint, envelope.view()));
                } catch (const dvkc::Error &e) {
                    ADD_FAILURE() << e.what();
                    continue;
                }
                bool right = true;
                for (std::size_t k = 0; k < query.size(); ++k) {
                    right = right && query.code(k) == default_code(query.sn(k));
                }
                answered += right ? 1 : 0;
            }
        });
    }
    clients.clear();
    EXPECT_EQ(answered.load(), threads * rounds);

    // A malformed body through the library: an HTTP 400, and the service lives on.
    const dvkc::Buffer bad = dvkc::exchange(endpoint, "this is no query");
    EXPECT_EQ(bad.view().rfind("HTTP/1.0 400 ", 0), 0U) << bad.view();
    dvkc::Query after;
    after.add("AFTER", "X");
    const dvkc::Buffer document = after.build(1, identity);
    after.parse(dvkc::exchange(endpoint, dvkc::make_envelope(document.view(), "s").view()));
    EXPECT_EQ(after.code(0), default_code("AFTER"));
    service.stop();

    ASSERT_EQ(log.size(), static_cast<std::size_t>(threads * rounds + 2));
    std::size_t malformed = 0;
    for (const std::string &line : log) {
        // "2026-12-08T16:28:42.123Z 127.0.0.1:54321 records=3 result=200 answered"
        EXPECT_EQ(line.find(" 127.0.0.1:"), 24U) << line;
        EXPECT_EQ(line[23], 'Z') << line;
        malformed += line.find("result=400") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(malformed, 1U);
}

}  // namespace
}  // namespace dvkc::sample
