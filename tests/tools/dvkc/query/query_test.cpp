// `dvkc query` run as a process against the sample service: the codes in
// each output format, batches, signatures, failed batches and their words,
// and nonces never sent twice.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "batch/one_batch.h"
#include "dvk_request.h"
#include "query/tool_query.h"
#include "sample_service.h"
#include "tls_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

TEST_F(ToolQuery, TableOfCodes)
{
    start_service({{"SN-1", -3}});
    const ProcessResult run =
        run_tool(query_args(write("r.csv", "SN,SSID\nSN-0,A\nSN-1,B\n\"SN-2\",\"CCCCCC\"\n"), {"--signature", "s"}));
    EXPECT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.out, "SN    SSID    Code\nSN-0  A       " + std::to_string(default_code("SN-0")) +
                           "\nSN-1  B       -3\nSN-2  CCCCCC  " + std::to_string(default_code("SN-2")) + "\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ToolQuery, BatchesInParallelKeepInputOrderInJson)
{
    start_service({{"SN-13", 9999}});
    const ProcessResult run =
        run_tool(query_args(write("r.csv", records_csv(25)), {"--signature", "s", "--batch-size", "4", "--jobs", "3",
                                                              "--output", "json", "--seed", "999"}));
    ASSERT_EQ(run.exit_status, exit_ok) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc.at("records").size(), 25U);
    for (std::size_t i = 0; i < 25; ++i) {
        const auto &record = doc.at("records")[i];
        const std::string sn = "SN-" + std::to_string(i);
        EXPECT_EQ(record.at("sn"), sn);
        EXPECT_EQ(record.at("line"), i + 2);
        EXPECT_EQ(record.at("batch"), i / 4 + 1);
        EXPECT_EQ(record.at("code"), i == 13 ? 9999 : default_code(sn));
    }
    ASSERT_EQ(doc.at("batches").size(), 7U);
    EXPECT_EQ(doc.at("batches")[6].at("records"), 1);
    EXPECT_EQ(doc.at("batches")[6].at("first_record"), 25);
    EXPECT_EQ(doc.at("exit_status"), 0);
}

TEST_F(ToolQuery, TwelveHundredRecordsMakeTwoBatchesByDefault)
{
    start_service();
    const ProcessResult run =
        run_tool(query_args("-", {"--signature", "s", "--output", "json", "--jobs", "2"}), records_csv(1200));
    ASSERT_EQ(run.exit_status, exit_ok) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc.at("batches").size(), 2U);
    EXPECT_EQ(doc.at("batches")[0].at("records"), 1000);
    EXPECT_EQ(doc.at("batches")[1].at("records"), 200);
    EXPECT_EQ(doc.at("records")[1199].at("code"), default_code("SN-1199"));
}

TEST_F(ToolQuery, CsvFromStandardInput)
{
    start_service();
    // An option given twice: the last one counts.
    const ProcessResult run =
        run_tool(query_args("-", {"--signature", "s", "--output", "json", "--output", "csv"}), "X1,A\r\nX2,B\r\n");
    ASSERT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.out, "SN,SSID,Code\nX1,A," + std::to_string(default_code("X1")) + "\nX2,B," +
                           std::to_string(default_code("X2")) + "\n");
}

TEST_F(ToolQuery, SignCommandWithOpensslSignsTheDocumentItReads)
{
    // Dry run: the envelope's signature is the SHA-256 of the printed document.
    const std::string records = write("r.csv", "A,1\nB,2\n");
    const ProcessResult dry = run_tool(
        query_args(records, {"--dry-run", "--sign-command", "openssl dgst -sha256 -r | cut -d' ' -f1", "--seed", "5"}));
    ASSERT_EQ(dry.exit_status, exit_ok) << dry.err;
    std::istringstream lines(dry.out);
    std::string line, document, envelope;
    while (std::getline(lines, line)) {
        if (line.rfind("# document", 0) == 0) {
            std::getline(lines, document);
        } else if (line.rfind("# envelope", 0) == 0) {
            std::getline(lines, envelope);
        }
    }
    ASSERT_EQ(document.rfind("<DVKReq><ClientID>", 0), 0U) << dry.out;
    const ProcessResult digest = run_shell("sha256sum | cut -d' ' -f1", document);
    ASSERT_EQ(digest.exit_status, 0);
    EXPECT_EQ(envelope, "<DVKRequest>" + document + "<DVKReqLength>" + std::to_string(document.size()) +
                            "</DVKReqLength><Signature>" + digest.out.substr(0, 64) + "</Signature></DVKRequest>");

    // And for real, over the network.
    start_service();
    const ProcessResult run = run_tool(query_args(records, {"--sign-command", "openssl dgst -sha256 -r"}));
    EXPECT_EQ(run.exit_status, exit_ok) << run.err;
}

TEST_F(ToolQuery, OneFailedBatchKeepsTheOthers)
{
    start_service();
    // The sign command refuses the document of the batch holding BAD.
    const std::string sign = "doc=$(cat); case \"$doc\" in *BAD*) exit 1;; esac; echo signed";
    const ProcessResult run = run_tool(query_args(write("r.csv", "A,1\nB,2\nBAD,3\nC,4\nD,5\n"),
                                                  {"--sign-command", sign, "--batch-size", "2", "--jobs", "2"}));
    EXPECT_EQ(run.exit_status, exit_partial) << run.err;
    EXPECT_TRUE(contains(run.out, "A    1     " + std::to_string(default_code("A")) + "\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "BAD  3     -\nC    4     -\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "D    5     " + std::to_string(default_code("D")) + "\n")) << run.out;
    EXPECT_EQ(run.err,
              "dvkc: batch 2 of 3 (records 3 to 4) failed: the sign command exited with status 1\n"
              "dvkc: 3 batches: 2 answered, 1 failed (signature x1)\n");

    // --fail-fast sends nothing after the first failure.
    const ProcessResult fast =
        run_tool(query_args(dir_->path() / "r.csv", {"--sign-command", sign, "--batch-size", "2", "--fail-fast"}));
    EXPECT_EQ(fast.exit_status, exit_partial);
    EXPECT_TRUE(contains(fast.err, "1 not sent\ndvkc: stopped after the first failure (--fail-fast)\n")) << fast.err;
}

TEST_F(ToolQuery, ServiceErrorIsExplainedWithItsNumber)
{
    start_service({}, 7);
    const ProcessResult run = run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s"}));
    EXPECT_EQ(run.exit_status, exit_failed);
    EXPECT_TRUE(contains(run.err, "failed: iParse_DVKResponsePKT 2000: the service reported an error (ErrID 7)"))
        << run.err;
}

TEST_F(ToolQuery, UntrustedServiceAndNoListener)
{
    start_service();
    std::vector<std::string> args = query_args(write("r.csv", "A,1\nB,2\n"), {"--signature", "s", "--output", "json"});
    args[6] = pki_->trust_unrelated;
    const ProcessResult untrusted = run_tool(args);
    EXPECT_EQ(untrusted.exit_status, exit_failed);
    EXPECT_TRUE(contains(untrusted.err, std::string(dvkc::describe(dvkc::Call::exchange, -12)))) << untrusted.err;
    const nlohmann::json doc = nlohmann::json::parse(untrusted.out);
    EXPECT_TRUE(doc.at("records")[0].at("code").is_null());
    EXPECT_EQ(doc.at("batches")[0].at("error").at("code"), -12);

    // A port that is bound but not listening refuses connections.
    const int socket_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket_fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(socket_fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(socket_fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    // Every batch would fail so: the run stops after the first.
    args = query_args(write("r.csv", "A,1\nB,2\nC,3\n"), {"--signature", "s", "--batch-size", "1"});
    args[4] = std::to_string(ntohs(address.sin_port));
    const ProcessResult refused = run_tool(args);
    ::close(socket_fd);
    EXPECT_EQ(refused.exit_status, exit_failed);
    EXPECT_TRUE(contains(refused.err, "iSSL_SendThenRecv -9: " + std::string(dvkc::describe(dvkc::Call::exchange, -9))))
        << refused.err;
    EXPECT_TRUE(contains(refused.err,
                         "3 batches: 0 answered, 1 failed (-9 x1), 2 not sent\n"
                         "dvkc: stopped after the first failure (every batch would fail the same way)\n"))
        << refused.err;
}

TEST_F(ToolQuery, VerboseShowsTheAnswerItCouldNotUse)
{
    dvkc::sample::ServiceOptions options;
    options.identity = pki_->leaf_intermediate;
    dvkc::sample::TlsService odd(options, dvkc::sample::fixed_answer("HTTP/1.0 503 Busy\r\n\r\n<busy/>"));
    odd.start();
    std::vector<std::string> args = query_args(write("r.csv", "A,1\n"), {"--signature", "s"});
    args[4] = std::to_string(odd.port());
    const ProcessResult quiet = run_tool(args);
    EXPECT_EQ(quiet.exit_status, exit_failed);
    EXPECT_FALSE(contains(quiet.err, "503"));
    args.push_back("-v");
    const ProcessResult verbose = run_tool(args);
    EXPECT_EQ(verbose.exit_status, exit_failed);
    EXPECT_TRUE(contains(verbose.err, "iParse_DVKResponsePKT -1: "));
    EXPECT_TRUE(contains(verbose.err, "status line: HTTP/1.0 503 Busy\n")) << verbose.err;
    EXPECT_TRUE(contains(verbose.err, "<busy/>"));
}

// Never two requests with the same nonce in one run, whatever the seeds.
TEST_F(ToolQuery, NoNonceIsSentTwice)
{
    EXPECT_TRUE(zero_factor(-1));
    EXPECT_TRUE(zero_factor(-2001));
    EXPECT_FALSE(zero_factor(999));
    EXPECT_EQ(usable_seed(-1), 0);
    EXPECT_EQ(usable_seed(-1001), -1000);
    EXPECT_EQ(usable_seed(5), 5);

    // The book keeps one second's nonces.
    NonceBook book;
    struct Claim {
        std::time_t second;
        const char *nonce;
        bool taken;
        std::size_t kept;  // nonces in the book after it
    };
    const Claim claims[] = {
        {100, "n", true, 1},  {100, "n", false, 1},
        {100, "m", true, 2},  {101, "n", true, 1},  // a new second: the last one's forgotten
        {100, "k", false, 1},                       // built in the second before: built again
        {101, "n", false, 1}, {99, "n", true, 1},   // two seconds back: the clock was set back, a new book
    };
    for (const Claim &c : claims) {
        EXPECT_EQ(book.claim(c.second, c.nonce), c.taken) << c.second << " " << c.nonce;
        EXPECT_EQ(book.size(), c.kept) << c.second << " " << c.nonce;
    }

    TlsService service({.identity = pki_->leaf_intermediate},
                       [](const ServiceRequest &request) { return answer_request(request.raw, {}, {}).http; });
    service.start();
    BatchSettings settings;
    settings.endpoint = {"127.0.0.1", service.port(), "/dvk", pki_->trust_root_intermediate};
    settings.identity_file = identity;
    const SignatureSource signer = SignatureSource::from_text("s");
    NonceBook nonces;
    const BatchJob job{settings, signer, nonces, -1, 1, {}};
    const std::vector<InputRecord> records{{"A", "1", 1}};
    ExchangeHelper in_process("", settings.endpoint);
    // Seeds 5 and 1005 within one second, and -1 and 0, would give the same nonce.
    for (const std::int32_t seed : {5, 1005, -1, 0}) {
        EXPECT_TRUE(run_batch(job, in_process, records, {0, {0, 1}, seed}).answered());
    }
    service.stop();
    std::set<std::string> sent;
    for (const std::string &request : service.requests()) {
        sent.insert(parse_dvk_request(request).value().nonce);
    }
    EXPECT_EQ(sent.size(), 4U);

    const ProcessResult forced =
        run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s", "--dry-run", "--seed", "-1"}));
    EXPECT_EQ(forced.exit_status, exit_ok);
    EXPECT_TRUE(contains(forced.err, "warning: --seed -1 would give every request the same nonce")) << forced.err;
}

}  // namespace
}  // namespace dvkc::tool
