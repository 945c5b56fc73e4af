// The dvkc tool run as a process: query against the sample service, exit
// statuses, output formats, batches, --sign-command, codes and demo.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "dvk_request.h"
#include "dvkc.hpp"
#include "exit_status.h"
#include "sample_service.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tls_service.h"
#include "tool_process.h"
#include "batch_runner.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;

using dvkc::Call;
using test::run_tool;

std::string records_csv(std::size_t count, const std::string &prefix = "SN-")
{
    std::string text = "SN,SSID\n";
    for (std::size_t i = 0; i < count; ++i) {
        text += prefix + std::to_string(i) + ",ID" + std::to_string(i % 7) + "\n";
    }
    return text;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A TCP connection to 127.0.0.1:port that sends nothing (-1 on failure).
int idle_connection(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string file_text(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A throwaway PKI, an identity file and the sample service on 127.0.0.1.
class ToolQuery : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new dvkc::sample::TempDir();
        pki_ = new dvkc::sample::ThrowawayPki(dvkc::sample::make_throwaway_pki(dir_->path()));
    }
    static void TearDownTestSuite()
    {
        delete pki_;
        delete dir_;
    }

    void SetUp() override { identity = dir_->write_file("identity.bin", "the client"); }

    void start_service(CodeTable codes = {}, std::optional<std::int32_t> error = {})
    {
        SampleServiceOptions options;
        options.identity = pki_->leaf_intermediate;
        options.codes = std::move(codes);
        options.error = error;
        service.emplace(options);
        service->start();
        port = service->port();
    }

    // query against the running service with `extra` arguments.
    std::vector<std::string> query_args(const std::string &records, std::vector<std::string> extra) const
    {
        std::vector<std::string> args{"query", "--host", "127.0.0.1", "--port", std::to_string(port)};
        args.insert(args.end(),
                    {"--trust", pki_->trust_root_intermediate, "--identity", identity, "--records", records});
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string write(const std::string &name, const std::string &content) const
    {
        return dir_->write_file(name, content);
    }

    static dvkc::sample::TempDir *dir_;
    static dvkc::sample::ThrowawayPki *pki_;
    std::string identity;
    std::optional<SampleService> service;
    std::uint16_t port = 1;
};

dvkc::sample::TempDir *ToolQuery::dir_ = nullptr;
dvkc::sample::ThrowawayPki *ToolQuery::pki_ = nullptr;

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

// True while some process runs with `needle` in its command line.
bool process_running(const std::string &needle)
{
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        if (contains(std::string(std::istreambuf_iterator<char>(cmdline), {}), needle)) {
            return true;
        }
    }
    return false;
}

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
    EXPECT_FALSE(
        process_running(std::string("--exchange-helper") + '\0' + "127.0.0.1" + '\0' + std::to_string(port) + '\0'));

    const ProcessResult retried =
        run_tool(query_args(write("a.csv", "A,1\n"), {"--signature", "s", "--retry", "1", "--timeout", "1"}));
    EXPECT_EQ(retried.exit_status, exit_ok) << retried.err;
    EXPECT_TRUE(contains(retried.out, "A   1     " + std::to_string(default_code("A")) + "\n")) << retried.out;
    service.stop();
    const std::vector<std::string> requests = service.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_NE(parse_dvk_request(requests[2]).value().nonce, parse_dvk_request(requests[3]).value().nonce);
}

// Output to a file appears whole at the end; a large run in JSON keeps
// memory bounded (the output is streamed); a write error is reported.
TEST_F(ToolQuery, OutputFileStreamedAndWriteErrors)
{
    start_service();
    const std::filesystem::path out = dir_->path() / "out";
    std::filesystem::create_directories(out);
    const ProcessResult run = run_tool(
        query_args(write("big.csv", records_csv(100'000)), {"--signature", "s", "--jobs", "4", "--output", "json",
                                                            "--output-file", (out / "codes.json").string(), "-q"}));
    EXPECT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.out + run.err, "");
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory and quarantine say nothing of the tool's own memory
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 64L * 1024) << "KiB at most of any child so far";
#endif
    const nlohmann::json doc = nlohmann::json::parse(std::ifstream(out / "codes.json"));
    ASSERT_EQ(doc.at("records").size(), 100'000U);
    EXPECT_EQ(doc.at("records")[99'999].at("code"), default_code("SN-99999"));
    const std::filesystem::directory_iterator entries(out);
    EXPECT_EQ(std::distance(entries, {}), 1) << "no temporary file is left beside it";

    const ProcessResult full = run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s", "-o", "/dev/full"}));
    EXPECT_EQ(full.exit_status, exit_internal);
    EXPECT_TRUE(contains(full.err, "dvkc: cannot write /dev/full: No space left on device")) << full.err;
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

// -o writes where the path leads: through a link to our own standard output,
// to a link's target (the link kept), over a file whose mode is kept; and an
// earlier output stays when no batch was answered.
TEST_F(ToolQuery, OutputFileFollowsLinksKeepsModesAndEarlierOutput)
{
    start_service();
    const std::filesystem::path dir = dir_->path() / "links";
    std::filesystem::create_directories(dir);
    const std::string records = write("r.csv", "A,1\n");
    std::filesystem::create_symlink("/proc/self/fd/1", dir / "so");
    const ProcessResult through = run_tool(query_args(records, {"--signature", "s", "-o", (dir / "so").string()}));
    EXPECT_EQ(through.exit_status, exit_ok) << through.err;
    EXPECT_TRUE(contains(through.out, "A   1     ")) << through.out;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "so"));

    std::ofstream(dir / "target.csv") << "old\n";
    std::filesystem::permissions(dir / "target.csv", std::filesystem::perms(0640));
    std::filesystem::create_symlink("target.csv", dir / "link.csv");
    const ProcessResult linked =
        run_tool(query_args(records, {"--signature", "s", "--output", "csv", "-o", (dir / "link.csv").string()}));
    EXPECT_EQ(linked.exit_status, exit_ok) << linked.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
    EXPECT_EQ(file_text(dir / "target.csv"), "SN,SSID,Code\nA,1," + std::to_string(default_code("A")) + "\n");
    EXPECT_EQ(std::filesystem::status(dir / "target.csv").permissions(), std::filesystem::perms(0640));

    std::vector<std::string> args = query_args(records, {"--signature", "s", "-o", (dir / "target.csv").string()});
    args[4] = std::to_string(port == 1 ? 2 : 1);  // nothing listens there
    const ProcessResult none = run_tool(args);
    EXPECT_EQ(none.exit_status, exit_failed);
    EXPECT_TRUE(contains(none.err, "no batch was answered; " + (dir / "target.csv").string() + " was left as it was"))
        << none.err;
    EXPECT_EQ(file_text(dir / "target.csv"), "SN,SSID,Code\nA,1," + std::to_string(default_code("A")) + "\n");
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

    TlsService service({.identity = pki_->leaf_intermediate},
                       [](const ServiceRequest &request) { return answer_request(request.raw, {}, {}).http; });
    service.start();
    QueryOptions options;
    options.endpoint = {"127.0.0.1", service.port(), "/dvk", pki_->trust_root_intermediate};
    options.identity_file = identity;
    const SignatureSource signer = SignatureSource::from_text("s");
    NonceBook nonces;
    const BatchJob job{options, signer, nonces, -1, 1, {}};
    const std::vector<InputRecord> records{{"A", "1", 1}};
    // Seeds 5 and 1005 within one second, and -1 and 0, would give the same nonce.
    for (const std::int32_t seed : {5, 1005, -1, 0}) {
        EXPECT_TRUE(run_batch(job, records, {0, {0, 1}, seed}).answered());
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

TEST(ToolHelp, EverySubcommandDocumentsTheExitStatus)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--help"}, {"query", "--help"}, {"serve", "--help"}, {"demo", "--help"}, {"codes", "--help"}}) {
        const ProcessResult run = run_tool(args);
        EXPECT_EQ(run.exit_status, exit_ok);
        EXPECT_TRUE(contains(run.out, "Exit status:")) << args[0];
        EXPECT_TRUE(contains(run.out, "5  query: some batches were answered")) << args[0];
    }
    const ProcessResult version = run_tool({"--version"});
    EXPECT_EQ(version.exit_status, exit_ok);
    EXPECT_TRUE(contains(version.out, "dvkc 1."));
}

TEST(ToolCodes, TheSameWordsAsTheHeader)
{
    const ProcessResult some = run_tool({"codes", "-12", "2005", "9999"});
    EXPECT_EQ(some.exit_status, exit_usage);
    EXPECT_TRUE(contains(some.out, "iSSL_SendThenRecv       -12  ")) << some.out;
    EXPECT_TRUE(contains(some.out, "iParse_DVKResponsePKT  2005  ")) << some.out;
    EXPECT_EQ(some.err, "dvkc: 9999 is no result of any call (see dvkc codes)\n");
    const ProcessResult nonce = run_tool({"codes", "2005"});
    EXPECT_EQ(nonce.exit_status, exit_ok);
    EXPECT_TRUE(contains(nonce.out, "iParse_DVKResponsePKT  2005  the answer's nonce is not the one we sent\n"))
        << nonce.out;
    const ProcessResult minus_one = run_tool({"codes", "--", "-1", "-12"});
    EXPECT_EQ(minus_one.exit_status, exit_ok) << minus_one.err;
    for (const Call call : {Call::build, Call::wrap, Call::exchange, Call::parse}) {
        EXPECT_TRUE(contains(minus_one.out, std::string(dvkc::describe(call, -1)))) << minus_one.out;
    }
    EXPECT_TRUE(contains(minus_one.out, std::string(dvkc::describe(Call::exchange, -12))));
    const ProcessResult all = run_tool({"codes"});
    std::size_t lines = 0;
    for (const char c : all.out) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(lines, std::size(dvkc::result_table));
}

TEST(ToolDocs, ResultsTableIsTheToolsOwn)
{
    // The README's results table is `dvkc codes --markdown`, word for word.
    const ProcessResult table = run_tool({"codes", "--markdown"});
    ASSERT_EQ(table.exit_status, exit_ok);
    std::ifstream doc(std::string(DVKC_SOURCE_DIR) + "/README.md");
    const std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(text, table.out)) << "update the results table in README.md from `dvkc codes --markdown`";
}

TEST(ToolDemo, RunsAndPrintsTheTable)
{
    const ProcessResult run = run_tool({"demo"});
    ASSERT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(contains(run.out, "SN                SSID        Code\n")) << run.out;
    for (const char *sn : {"SN-0001", "SN-0002", "DEV42-7781", "0000000000000001"}) {
        EXPECT_TRUE(contains(run.out, std::to_string(default_code(sn)) + "\n")) << sn;
        EXPECT_TRUE(contains(run.out, sn));
    }
    EXPECT_TRUE(contains(run.out, "temporary files removed"));
}

}  // namespace
}  // namespace dvkc::tool
