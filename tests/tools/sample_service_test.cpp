// The sample service: its answers, malformed requests, concurrent clients
// through the library, and `dvkc serve` as a process stopped by a signal.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <mutex>
#include <thread>

#include "dvkc.hpp"
#include "exit_status.h"
#include "http_framing.h"
#include "sample_service.h"
#include "serve.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;

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

// `dvkc serve` in the background, its first lines read: the port, the
// clients' trust file and the note after it (none with --cert), the codes.
struct Serve {
    Serve(const std::vector<std::string> &args, const std::filesystem::path &err_file) : tool(args, err_file.string())
    {
        const std::string listening = "dvkc serve: listening on https://127.0.0.1:";
        const std::string trust_file = "dvkc serve: trust file for clients: ";
        std::string line;
        if (!tool.read_line(line) || line.rfind(listening, 0) != 0) {
            ADD_FAILURE() << "unexpected first line: " << line;
            return;
        }
        port = static_cast<std::int32_t>(std::stoi(line.substr(listening.size())));
        if (tool.read_line(codes) && codes.rfind(trust_file, 0) == 0) {
            trust = codes.substr(trust_file.size(), codes.find(" (") - trust_file.size());
            note = codes.substr(codes.find(" ("));
            tool.read_line(codes);
        }
    }
    void expect_line(const std::string &part)
    {
        std::string line;
        EXPECT_TRUE(tool.read_line(line));
        EXPECT_NE(line.find(part), std::string::npos) << line;
    }
    void stop(int number, const std::string &name)
    {
        tool.signal(number);
        expect_line("dvkc serve: stopped by " + name);
        EXPECT_EQ(tool.wait(), exit_ok);
    }
    test::BackgroundTool tool;
    std::int32_t port = -1;
    std::string trust, note, codes;
};

TEST_F(SampleServiceOverTls, ServeAsAProcessStopsCleanlyOnSigtermAndKeepsItsPki)
{
    const std::string pki_dir = (dir.path() / "serve-pki").string();
    const std::string codes = dir.write_file("codes.csv", "SN,Code\nKNOWN,-42\n");
    Serve serve({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir, "--codes", codes}, dir.path() / "1.err");
    const std::int32_t port = serve.port;
    ASSERT_GT(port, 0);
    const std::string trust = serve.trust;
    EXPECT_EQ(trust + serve.note, pki_dir + "/trust.pem (kept)");

    dvkc::Query query;
    query.add("KNOWN", "A");
    query.add("OTHER", "B");
    const dvkc::Buffer document = query.build(3, identity);
    query.parse(dvkc::exchange({"127.0.0.1", port, "/", trust}, dvkc::make_envelope(document.view(), "s").view()));
    EXPECT_EQ(query.code(0), -42);
    EXPECT_EQ(query.code(1), default_code("OTHER"));
    serve.expect_line("records=2 result=200 answered");
    serve.stop(SIGTERM, "SIGTERM");
    const auto key_mode = std::filesystem::status(pki_dir + "/server.key").permissions();
    EXPECT_EQ(key_mode & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto written = std::filesystem::last_write_time(trust);

    // A second run reuses the PKI (the clients' trust file stays valid) and stops on SIGHUP.
    Serve again({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir}, dir.path() / "2.err");
    EXPECT_EQ(again.trust + again.note, trust + " (kept from an earlier run)");
    again.stop(SIGHUP, "SIGHUP");
    EXPECT_EQ(std::filesystem::last_write_time(trust), written);

    // A directory holding only part of it is left alone.
    std::filesystem::remove(pki_dir + "/server-chain.pem");
    const ProcessResult partial = test::run_tool({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir});
    EXPECT_NE(partial.exit_status, exit_ok);
    EXPECT_NE(partial.err.find("server-chain.pem missing"), std::string::npos) << partial.err;
    EXPECT_FALSE(std::filesystem::exists(pki_dir + "/server-chain.pem"));
    EXPECT_EQ(std::filesystem::last_write_time(trust), written);
}

TEST_F(SampleServiceOverTls, ServeRemovesItsTemporaryPkiOnSighup)
{
    Serve serve({"serve", "--listen", "127.0.0.1:0"}, dir.path() / "serve.err");
    EXPECT_EQ(serve.note, " (removed when the service stops)");
    const std::filesystem::path pki_dir = std::filesystem::path(serve.trust).parent_path();
    EXPECT_TRUE(std::filesystem::exists(pki_dir / "server.key"));
    serve.stop(SIGHUP, "SIGHUP");
    EXPECT_FALSE(std::filesystem::exists(pki_dir));
}

TEST_F(SampleServiceOverTls, ServeWithItsOwnCertificateStopsOnSigint)
{
    Serve serve({"serve", "--listen", "127.0.0.1:0", "--cert", pki.leaf_cert, "--key", pki.leaf_key, "--chain",
                 pki.intermediate_cert, "--error", "9"},
                dir.path() / "serve.err");
    const std::int32_t port = serve.port;
    ASSERT_GT(port, 0);
    EXPECT_EQ(serve.codes, "dvkc serve: codes: every query answered with ErrID 9");

    // Leaf and intermediate are presented: the root-and-intermediate trust file passes the chain check.
    dvkc::Query query;
    query.add("A", "B");
    const dvkc::Buffer document = query.build(3, identity);
    try {
        query.parse(dvkc::exchange({"127.0.0.1", port, "/", pki.trust_root_intermediate},
                                   dvkc::make_envelope(document.view(), "s").view()));
        ADD_FAILURE() << "the service error was not reported";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.code(), 2000);
        EXPECT_EQ(e.err_id(), 9);
    }
    serve.expect_line("records=1 result=200 ErrID 9");
    serve.stop(SIGINT, "SIGINT");
}

TEST_F(SampleServiceOverTls, ServeRefusesBadCodesAndCertificates)
{
    const std::string codes = dir.write_file("codes.csv", "SN,Code\nA,1\nB,x\n");
    const ProcessResult bad_codes = test::run_tool({"serve", "--listen", "127.0.0.1:0", "--codes", codes});
    EXPECT_EQ(bad_codes.exit_status, exit_input);
    EXPECT_NE(bad_codes.err.find("codes.csv: line 3: Code is not a 32-bit decimal integer: 'x'"), std::string::npos)
        << bad_codes.err;
    EXPECT_EQ(bad_codes.out, "");
    const ProcessResult codes_dir =
        test::run_tool({"serve", "--listen", "127.0.0.1:0", "--codes", dir.path().string()});
    EXPECT_EQ(codes_dir.exit_status, exit_input);
    EXPECT_NE(codes_dir.err.find("is a directory"), std::string::npos) << codes_dir.err;
    // A key that does not belong to the certificate.
    const ProcessResult mismatch =
        test::run_tool({"serve", "--listen", "127.0.0.1:0", "--cert", pki.leaf_cert, "--key", pki.unrelated_leaf_key});
    EXPECT_EQ(mismatch.exit_status, exit_internal) << mismatch.err;
}

TEST(ServeOptions, ListenAddress)
{
    std::string address;
    std::uint16_t port = 1;
    EXPECT_TRUE(parse_listen("127.0.0.1:0", address, port));
    EXPECT_EQ(port, 0);
    EXPECT_TRUE(parse_listen("127.0.0.2:65535", address, port));
    EXPECT_EQ(address, "127.0.0.2");
    EXPECT_EQ(port, 65535);
    for (const char *bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:-1", "localhost:80", ":80",
                            "127.0.0.1:8x", "[::1]:80"}) {
        EXPECT_FALSE(parse_listen(bad, address, port)) << bad;
    }
}

}  // namespace
}  // namespace dvkc::tool
