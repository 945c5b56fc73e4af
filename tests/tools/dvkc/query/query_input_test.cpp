// `dvkc query`'s command line and input: what is refused before anything is
// sent, and why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvk_request.h"
#include "dvkc.hpp"
#include "query/tool_query.h"
#include "sample_service.h"
#include "tls_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

// Refused before anything is sent, each with its reason (exit 3).
TEST_F(ToolQuery, RejectedInputSendsNothing)
{
    TlsService counter({.identity = pki_->leaf_intermediate}, fixed_answer("HTTP/1.0 200 OK\r\n\r\n"));
    counter.start();
    port = counter.port();
    const std::string good = write("good.csv", "ok,1\n");
    const std::string missing = (dir_->path() / "missing").string();
    const std::string sub = (dir_->path() / "sub").string();
    std::filesystem::create_directories(sub);
    struct Case {
        std::size_t at;  // the argument replaced by `value`: 6 trust, 8 identity, 10 records (0: none)
        std::string value;
        std::string reason;
        std::vector<std::string> extra{"--signature", "s"};
    };
    const Case cases[] = {
        {10, write("bad.csv", "SN,SSID\nok,1\n" + std::string(17, 'x') + ",1\nok2,\"a,b\"\n"),
         "line 4: SSID holds a comma\ndvkc: 2 line(s) rejected; nothing was sent\n"},
        {10, write("lt.csv", "ok,1\nA<B,2\n"), "line 2: SN holds '<'"},
        {10, write("utf.csv", "ok,\xff\n"), "line 1: SSID is not valid UTF-8"},
        {10, write("empty.csv", "SN,SSID\n\n"), "holds no records; nothing was sent"},
        {10, sub, "the records file " + sub + " is a directory"},
        {10, missing, "cannot read the records file " + missing + ": No such file or directory"},
        {6, write("empty.pem", ""), "holds no PEM certificate"},
        {6, write("text.pem", "not a certificate\n"), "holds no PEM certificate"},
        {6, pki_->leaf_key, "holds no PEM certificate"},
        {6, sub, "the trust file " + sub + " is a directory"},
        {6, missing, "cannot read the trust file " + missing + ": No such file or directory"},
        {8, sub, "the identity file " + sub + " is a directory"},
        {8, missing, "cannot read the identity file " + missing},
        {0, "", "the signature is empty", {"--signature", ""}},
        {0, "", "is empty", {"--signature-file", write("nosig.txt", "\n")}},
        {0, "", "cannot read the signature file " + missing, {"--signature-file", missing}},
        {0, "", "the signature file " + sub + " is a directory", {"--signature-file", sub}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = query_args(good, c.extra);
        if (c.at != 0) {
            args[c.at] = c.value;
        }
        const ProcessResult run = run_tool(args);
        EXPECT_EQ(run.exit_status, exit_input) << c.reason << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
        EXPECT_EQ(run.err.rfind("dvkc: ", 0), 0U) << run.err;
        EXPECT_EQ(run.out, "");
    }
    identity = write("empty.id", "");  // allowed, with a warning
    const ProcessResult empty_identity = run_tool(query_args(good, {"--signature", "s", "--dry-run"}));
    EXPECT_EQ(empty_identity.exit_status, exit_ok) << empty_identity.err;
    EXPECT_TRUE(contains(empty_identity.err, "warning: the identity file")) << empty_identity.err;
    counter.stop();
    EXPECT_EQ(counter.connections_accepted(), 0U);
}

// A file given as a pipe (<(cmd), a FIFO) is read once: every batch carries
// all its records, the one ClientID and the trust file, and a FIFO is not
// opened twice (which would wait for good).
TEST_F(ToolQuery, InputFilesGivenAsPipesAreReadOnce)
{
    TlsService service({.identity = pki_->leaf_intermediate},
                       [](const ServiceRequest &request) { return answer_request(request.raw, {}, {}).http; });
    service.start();
    port = service.port();
    const std::string records = write("r.csv", "A,1\nB,2\nC,3\n");
    const std::string fifo = (dir_->path() / "records.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> plain =
        query_args(records, {"--signature", "s", "--batch-size", "1", "--output", "csv"});
    struct Case {
        std::size_t at;      // the argument replaced: 6 trust, 8 identity, 10 records
        std::string words;   // by these shell words
        std::string before;  // a shell command run first
    };
    const Case cases[] = {
        {0, "query", ""},  // all regular files
        {10, "<(cat '" + records + "')", ""},
        {10, "'" + fifo + "'", "cat '" + records + "' > '" + fifo + "' &"},
        {8, "<(cat '" + identity + "')", ""},
        {6, "<(cat '" + pki_->trust_root_intermediate + "')", ""},
        {8, "/dev/stdin", ""},
    };
    const std::string codes = "SN,SSID,Code\nA,1," + std::to_string(default_code("A")) + "\nB,2," +
                              std::to_string(default_code("B")) + "\nC,3," + std::to_string(default_code("C")) + "\n";
    std::string client_id;
    for (const Case &c : cases) {
        std::string script = c.before + "\nexec \"$0\"";
        for (std::size_t i = 0; i < plain.size(); ++i) {
            script += " " + (i == c.at ? c.words : "'" + plain[i] + "'");
        }
        const std::size_t sent = service.requests().size();
        const ProcessResult run =
            run_process({"/bin/bash", "-c", script, DVKC_TOOL}, "the client", true, {std::chrono::seconds(60), -1});
        EXPECT_FALSE(run.timed_out) << c.words;
        EXPECT_EQ(run.exit_status, exit_ok) << c.words << "\n" << run.err;
        EXPECT_EQ(run.out, codes) << c.words;
        EXPECT_FALSE(contains(run.err, "warning")) << run.err;
        const std::vector<std::string> requests = service.requests();
        ASSERT_EQ(requests.size(), sent + 3) << c.words;
        for (std::size_t r = sent; r < requests.size(); ++r) {
            const auto request = parse_dvk_request(requests[r]);
            ASSERT_TRUE(request.has_value());
            EXPECT_EQ(request->records.size(), 1U) << c.words;
            client_id = client_id.empty() ? request->client_id : client_id;
            EXPECT_EQ(request->client_id, client_id) << c.words << ", request " << r - sent + 1;
        }
    }
}

TEST_F(ToolQuery, BadCommandLines)
{
    const std::string good = write("good.csv", "ok,1\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"nonsense"},
        query_args(good, {}),                                           // no signature
        query_args(good, {"--signature", "a", "--sign-command", "b"}),  // two
        query_args(good, {"--signature", "a", "--batch-size", "1001"}),
        query_args(good, {"--signature", "a", "--batch-size", "0"}),
        query_args(good, {"--signature", "a", "--output", "xml"}),
        query_args(good, {"--signature", "a", "--port", "65536"}),
        {"query", "--identity", identity, "--records", good, "--signature", "a", "--trust", "t"},  // no host
        query_args(good, {"--signature", "a", "--path", "nopath"}),
        query_args(good, {"--signature", "a", "--path", "/a b"}),
        query_args(good, {"--signature", "a", "--path", "/a\r\nX-Injected: 1"}),
        query_args(good, {"--signature", "a", "--outptu", "json"}),
        {"querry", "--help"},
        {"codes", "9999"},
        {"serve", "--listen", "localhost:80"},
        {"serve", "--listen", "127.0.0.1:99999"},
        {"codes", "2010"},
        {"query", "--hots", "127.0.0.1", "--records", good, "--signature", "a"},
        {"check", "--host", "127.0.0.1"},  // no trust file
        {"check", "--host", "127.0.0.1", "--trust", "t", "--output", "xml"},
        {"serve", "--tls-max", "1.4"},
        {"check", "--trust", "t"},  // no host
    };
    std::vector<std::string> errors;
    for (const auto &args : cases) {
        const ProcessResult run = run_tool(args);
        errors.push_back(run.err);
        std::string joined;
        for (const auto &arg : args) {
            joined += arg + " ";
        }
        EXPECT_EQ(run.exit_status, exit_usage) << joined << "\n" << run.err;
        EXPECT_EQ(run.err.rfind("dvkc: ", 0), 0U) << joined << "\n" << run.err;
        EXPECT_EQ(run.out, "") << joined;
    }
    EXPECT_TRUE(contains(errors[12], "did you mean --output")) << errors[12];
    EXPECT_TRUE(contains(errors[13], "did you mean 'query'?")) << errors[13];
    EXPECT_TRUE(contains(errors[14], "dvkc: 9999 is no result of any call")) << errors[14];
    EXPECT_EQ(errors[18],
              "dvkc: unknown option --hots; did you mean --host?\ndvkc: run with --help for more information\n");
    // query and check require the endpoint's options in the same words.
    EXPECT_EQ(errors[8], "dvkc: --host is required (or DVKC_HOST)\n");
    EXPECT_EQ(errors[22], "dvkc: --host is required (or DVKC_HOST)\n");
    EXPECT_EQ(errors[19], "dvkc: --trust is required (or DVKC_TRUST)\n");

    // The port from the environment is named as such.
    for (const char *value : {"abc", ""}) {
        ::setenv("DVKC_PORT", value, 1);
        const ProcessResult run = run_tool(
            {"query", "--host", "h", "--trust", "t", "--identity", identity, "--records", good, "--signature", "a"});
        ::unsetenv("DVKC_PORT");
        EXPECT_EQ(run.exit_status, exit_usage);
        EXPECT_EQ(run.err.rfind("dvkc: DVKC_PORT ", 0), 0U) << run.err;
    }
}

}  // namespace
}  // namespace dvkc::tool
