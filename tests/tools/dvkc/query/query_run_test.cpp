// A `dvkc query` run meeting trouble: interrupts, a sign command killed with
// the tool, stalled and broken exchanges with their retries, exchange
// helpers replaced and ended, idle clients.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "dvk_request.h"
#include "query/batch_runner.h"
#include "query/record_source.h"
#include "query/tool_query.h"
#include "sample_service.h"
#include "tls_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

// Ctrl-C after the first batch: it is printed, the others show as not
// answered, the sign command under way is stopped, the status is 130.
TEST_F(ToolQuery, InterruptPrintsTheFinishedBatches)
{
    start_service();
    const std::string sign = "doc=$(cat); case \"$doc\" in *'<SN>A</SN>'*) echo s;; *) sleep 60;; esac";
    const std::string err_file = (dir_->path() / "interrupt.err").string();
    test::BackgroundTool tool(
        query_args(write("r.csv", "A,1\nB,2\nC,3\n"), {"--sign-command", sign, "--batch-size", "1", "--output", "csv"}),
        err_file);
    std::string line;
    ASSERT_TRUE(tool.read_line(line) && tool.read_line(line));  // the header, then batch 1 as soon as it is done
    EXPECT_EQ(line, "A,1," + std::to_string(default_code("A")));
    while (!process_running(std::string("sleep") + '\0' + "60")) {  // batch 2's sign command
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tool.signal(SIGINT);
    std::string rest;
    while (tool.read_line(line)) {
        rest += line + "\n";
    }
    EXPECT_EQ(rest, "B,2,\nC,3,\n");
    EXPECT_EQ(tool.wait(), 130);
    std::ifstream err(err_file);
    const std::string text(std::istreambuf_iterator<char>(err), {});
    EXPECT_TRUE(contains(text,
                         "dvkc: 3 batches: 1 answered, 0 failed, 2 not sent\n"
                         "dvkc: interrupted; batch 2 was stopped in flight\n"))
        << text;
}

// A failure after an answered batch is the service's trouble of the moment,
// never one every batch would meet: the run goes on.
TEST_F(ToolQuery, FailureAfterAnAnswerStopsNothing)
{
    start_service();
    const std::string gate = (dir_->path() / "gate").string();
    const std::string sign = "doc=$(cat); case \"$doc\" in *'<SN>A</SN>'*) ;; *) while [ ! -e '" + gate +
                             "' ]; do sleep 0.05; done;; esac; echo s";
    const std::string err_file = (dir_->path() / "after-answer.err").string();
    test::BackgroundTool tool(
        query_args(write("r.csv", "A,1\nB,2\nC,3\n"), {"--sign-command", sign, "--batch-size", "1", "--output", "csv"}),
        err_file);
    std::string line;
    ASSERT_TRUE(tool.read_line(line) && tool.read_line(line));  // the header, then batch 1, answered
    EXPECT_EQ(line, "A,1," + std::to_string(default_code("A")));
    service.reset();  // nothing listens any more: -9 from here on
    std::ofstream{gate};
    std::string rest;
    while (tool.read_line(line)) {
        rest += line + "\n";
    }
    EXPECT_EQ(rest, "B,2,\nC,3,\n");
    EXPECT_EQ(tool.wait(), exit_partial);
    const std::string err = file_text(err_file);
    EXPECT_TRUE(contains(err, "dvkc: 3 batches: 1 answered, 2 failed (-9 x2)\n")) << err;
    EXPECT_FALSE(contains(err, "stopped after the first failure")) << err;
}

// The batches stopped in flight are listed in order, whichever stopped
// first: batch 2's sign command is killed at once, batch 1's exchange (in
// this process, not to be stopped) ends when the service answers.
TEST_F(ToolQuery, StoppedInFlightListedInOrder)
{
    std::atomic<bool> asked{false};
    TlsService slow({.identity = pki_->leaf_intermediate}, [&](const ServiceRequest &) {
        asked = true;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return std::string("HTTP/1.0 503 Busy\r\n\r\n");
    });
    slow.start();
    BatchSettings settings;
    settings.endpoint = {"127.0.0.1", slow.port(), "/dvk", pki_->trust_root_intermediate};
    settings.identity_file = identity;
    const SignatureSource signer =
        SignatureSource::from_command("doc=$(cat); case \"$doc\" in *'<SN>B</SN>'*) sleep 62;; esac; echo s");
    int cancel[2];
    ASSERT_EQ(::pipe2(cancel, O_CLOEXEC), 0);
    NonceBook nonces;
    const BatchJob job{settings, signer, nonces, cancel[0], 2, {}};
    QueryOptions options;
    options.jobs = 2;
    std::istringstream in("A,1\nB,2\n");
    RecordSource source("-", in);
    BatchRunner runner(job, options, source, BatchPlan(source.size(), 1));
    std::thread run([&] {
        runner.run([](std::size_t, const BatchOutcome &, const std::vector<InputRecord> &) { return true; },
                   [](const Tally &) {});
    });
    while (!asked || !process_running(std::string("sleep") + '\0' + "62")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(::write(cancel[1], "x", 1), 1);
    run.join();
    ::close(cancel[0]);
    ::close(cancel[1]);
    EXPECT_EQ(runner.stopped_in_flight(), (std::vector<std::size_t>{0, 1}));
}

// SIGKILL leaves no sign command running: it dies with the tool.
TEST_F(ToolQuery, SignCommandDiesWithTheTool)
{
    start_service();
    const std::string marker = std::string("sleep") + '\0' + "61";
    test::BackgroundTool tool(query_args(write("r.csv", "A,1\n"), {"--sign-command", "sleep 61; echo s"}),
                              (dir_->path() / "killed.err").string());
    while (!process_running(marker)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tool.signal(SIGKILL);
    EXPECT_EQ(tool.wait(), 128 + SIGKILL);
    for (int i = 0; i < 500 && process_running(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(process_running(marker));
}

// A service that stalls: each batch times out after --timeout, the run goes
// on, no helper process is left; --retry sends a new document with a new
// nonce, which is answered.
TEST_F(ToolQuery, StalledServiceTimesOutAndRetry)
{
    std::atomic<int> calls{0};
    const auto stall = [&](const ServiceRequest &request) {
        if (calls++ < 3) {  // both batches of the first run, the first attempt of the second
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        }
        return answer_request(request.raw, {}, {}).http;
    };
    TlsService service({.identity = pki_->leaf_intermediate, .concurrent = true}, stall);
    service.start();
    port = service.port();
    const ProcessResult run =
        run_tool(query_args(write("r.csv", "A,1\nB,2\n"), {"--signature", "s", "--batch-size", "1", "--jobs", "2",
                                                           "--timeout", "1", "--output", "json"}));
    EXPECT_EQ(run.exit_status, exit_failed) << run.err;
    EXPECT_TRUE(contains(
        run.err, "failed: iSSL_SendThenRecv: timed out after 1 s (service 127.0.0.1:" + std::to_string(port) + ")\n"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "2 batches: 0 answered, 2 failed (timeout x2)")) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out).at("batches")[1].at("error").at("description"), "timed out after 1 s");
    EXPECT_FALSE(process_running(exchange_helper_needle(port)));

    const ProcessResult retried =
        run_tool(query_args(write("a.csv", "A,1\n"), {"--signature", "s", "--retry", "1", "--timeout", "1"}));
    EXPECT_EQ(retried.exit_status, exit_ok) << retried.err;
    EXPECT_TRUE(contains(retried.out, "A   1     " + std::to_string(default_code("A")) + "\n")) << retried.out;
    service.stop();
    const std::vector<std::string> requests = service.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_NE(parse_dvk_request(requests[2]).value().nonce, parse_dvk_request(requests[3]).value().nonce);
}

// At --jobs 1 the one worker's helper, killed by the time limit, is
// replaced: the batches after the one that timed out are answered, and no
// helper outlives the run.
TEST_F(ToolQuery, HelperKilledByTheTimeLimitIsReplaced)
{
    std::atomic<int> calls{0};
    TlsService service({.identity = pki_->leaf_intermediate, .concurrent = true}, [&](const ServiceRequest &request) {
        if (calls++ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        }
        return answer_request(request.raw, {}, {}).http;
    });
    service.start();
    port = service.port();
    const ProcessResult run =
        run_tool(query_args(write("r.csv", "A,1\nB,2\nC,3\n"), {"--signature", "s", "--batch-size", "1", "--jobs", "1",
                                                                "--timeout", "1", "--output", "csv"}));
    EXPECT_EQ(run.exit_status, exit_partial) << run.err;
    EXPECT_EQ(run.out, "SN,SSID,Code\nA,1,\nB,2," + std::to_string(default_code("B")) + "\nC,3," +
                           std::to_string(default_code("C")) + "\n");
    EXPECT_TRUE(contains(run.err, "3 batches: 2 answered, 1 failed (timeout x1)")) << run.err;
    EXPECT_FALSE(process_running(exchange_helper_needle(port)));
    service.stop();
}

// SIGINT or SIGTERM while every worker's helper is in an exchange: the
// helpers end with the run, none is left behind.
TEST_F(ToolQuery, HelpersEndWithTheRunOnASignal)
{
    std::atomic<bool> release{false};
    TlsService service({.identity = pki_->leaf_intermediate, .concurrent = true}, [&](const ServiceRequest &request) {
        for (int i = 0; i < 3000 && !release; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return answer_request(request.raw, {}, {}).http;
    });
    service.start();
    port = service.port();
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        test::BackgroundTool tool(
            query_args(write("r.csv", "A,1\nB,2\nC,3\n"), {"--signature", "s", "--batch-size", "1", "--jobs", "2"}),
            (dir_->path() / "signal.err").string());
        for (int i = 0; i < 1000 && processes_running(exchange_helper_needle(port)) < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(processes_running(exchange_helper_needle(port)), 2);
        tool.signal(signal);
        EXPECT_EQ(tool.wait(), 128 + signal);
        EXPECT_FALSE(process_running(exchange_helper_needle(port)));
    }
    release = true;
    service.stop();
}

// Idle clients, more than the service has workers, never keep a query out.
TEST_F(ToolQuery, IdleConnectionsNeverKeepOthersOut)
{
    start_service();
    std::vector<int> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(idle_connection(port));
        ASSERT_GE(idle.back(), 0);
    }
    const ProcessResult run = run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s", "--timeout", "10"}));
    for (const int fd : idle) {
        ::close(fd);
    }
    EXPECT_EQ(run.exit_status, exit_ok) << run.err;
}

// A connection dropped after the handshake, or an answer shorter than its
// Content-length, is a broken exchange: said so, retried, shown by -v.
TEST_F(ToolQuery, BrokenExchangesAreRetried)
{
    struct Case {
        Behaviour behaviour;
        std::string answer;
        std::string why;
    };
    const Case cases[] = {
        {Behaviour::close_after_handshake, "", "the connection was closed without an answer"},
        {Behaviour::answer, "HTTP/1.0 200 OK\r\nContent-length: 100\r\n\r\nshort",
         "the answer was cut short (5 of 100 bytes of its body)"},
    };
    for (const Case &c : cases) {
        TlsService broken({.identity = pki_->leaf_intermediate, .behaviour = c.behaviour}, fixed_answer(c.answer));
        broken.start();
        port = broken.port();
        const ProcessResult run =
            run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s", "--retry", "1", "-v"}));
        EXPECT_EQ(run.exit_status, exit_failed);
        EXPECT_TRUE(contains(run.err, "failed: iSSL_SendThenRecv: " + c.why +
                                          " (service 127.0.0.1:" + std::to_string(port) + "); retrying in 1 s\n"))
            << run.err;
        EXPECT_TRUE(contains(run.err, c.why + " (service 127.0.0.1:" + std::to_string(port) +
                                          ") (after 2 attempts)\ndvkc:   status line: "))
            << run.err;
        broken.stop();
        EXPECT_EQ(broken.handshakes_completed(), 2U);
    }
}

}  // namespace
}  // namespace dvkc::tool
