// Exchanges through the tool's own helper process: one helper kept from one
// exchange to the next, replaced whenever it was stopped or died, gone with
// its owner; and the helper's side of the pipe given malformed requests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "batch/exchange_helper.h"
#include "dvkc.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tls_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using Kind = ExchangeOutcome::Kind;

// Past the pipe's buffer both ways, within the library's bound on an answer.
const std::string big_answer = "HTTP/1.0 200 OK\r\n\r\n" + std::string(300'000, 'a');
const RunLimits ten_seconds{std::chrono::seconds(10), -1};

bool gone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

class HelperExchange : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        pki_ = new ThrowawayPki(make_throwaway_pki(dir_->path()));
    }
    static void TearDownTestSuite()
    {
        delete pki_;
        delete dir_;
    }

    // Answers `big_answer`; a request holding "stall" only after 2.5 s.
    void SetUp() override
    {
        service_.emplace(ServiceOptions{.identity = pki_->leaf_intermediate, .concurrent = true},
                         [](const ServiceRequest &request) {
                             if (request.raw.find("stall") != std::string_view::npos) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(2500));
                             }
                             return big_answer;
                         });
        service_->start();
    }

    dvkc::Endpoint endpoint() const { return {"127.0.0.1", service_->port(), "/dvk", pki_->trust_root_intermediate}; }

    inline static TempDir *dir_ = nullptr;
    inline static ThrowawayPki *pki_ = nullptr;
    std::optional<TlsService> service_;
};

// One process for every exchange, requests and answers larger than a pipe
// holds passed whole; it ends with its owner.
TEST_F(HelperExchange, OneProcessAnswersOneExchangeAfterAnother)
{
    std::optional<ExchangeHelper> exchanges;
    exchanges.emplace(DVKC_TOOL, endpoint());
    EXPECT_EQ(exchanges->pid(), -1);  // none before the first exchange
    pid_t first = -1;
    for (const std::string &envelope : {std::string("small"), std::string(1 << 20, 'e'), std::string("small")}) {
        const ExchangeOutcome outcome = exchanges->exchange(envelope, ten_seconds);
        ASSERT_EQ(outcome.kind, Kind::answered) << outcome.why;
        EXPECT_EQ(outcome.answer, big_answer);
        first = first == -1 ? exchanges->pid() : first;
        EXPECT_EQ(exchanges->pid(), first);
    }
    EXPECT_GT(service_->requests()[1].size(), std::size_t{1} << 20);
    exchanges.reset();
    EXPECT_TRUE(gone(first));
}

// However a helper was stopped, it is gone and the next exchange is answered
// by a new one.
TEST_F(HelperExchange, ReplacedAfterAnyStop)
{
    struct Case {
        const char *name;
        // Stops `exchanges`' helper; returns how its exchange (if any) ended.
        std::function<std::optional<ExchangeOutcome>(ExchangeHelper &)> stop;
        std::optional<Kind> kind;
        std::string why;
    };
    const Case cases[] = {
        {"time limit",
         [](ExchangeHelper &h) {
             return h.exchange("stall", {std::chrono::seconds(1), -1});
         },
         Kind::timed_out, ""},
        {"interrupt",
         [](ExchangeHelper &h) {
             int cancel[2];
             EXPECT_EQ(::pipe2(cancel, O_CLOEXEC), 0);
             std::jthread interrupt([&] {
                 std::this_thread::sleep_for(std::chrono::milliseconds(300));
                 EXPECT_EQ(::write(cancel[1], "x", 1), 1);
             });
             const ExchangeOutcome outcome = h.exchange("stall", {std::chrono::seconds(10), cancel[0]});
             interrupt.join();
             ::close(cancel[0]);
             ::close(cancel[1]);
             return outcome;
         },
         Kind::cancelled, ""},
        {"killed during an exchange",
         [](ExchangeHelper &h) {
             std::jthread killer([pid = h.pid()] {
                 std::this_thread::sleep_for(std::chrono::milliseconds(300));
                 ::kill(pid, SIGKILL);
             });
             return h.exchange("stall", ten_seconds);
         },
         Kind::broken, "the exchange helper was killed by signal 9"},
        {"killed while idle",
         [](ExchangeHelper &h) -> std::optional<ExchangeOutcome> {
             ::kill(h.pid(), SIGKILL);
             siginfo_t ended{};  // dead, not yet reaped
             EXPECT_EQ(::waitid(P_PID, static_cast<id_t>(h.pid()), &ended, WEXITED | WNOWAIT), 0);
             return std::nullopt;
         },
         std::nullopt, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ExchangeHelper exchanges(DVKC_TOOL, endpoint());
        ASSERT_EQ(exchanges.exchange("first", ten_seconds).kind, Kind::answered);
        const pid_t first = exchanges.pid();
        const std::optional<ExchangeOutcome> stopped = c.stop(exchanges);
        ASSERT_EQ(stopped.has_value(), c.kind.has_value());
        if (stopped) {
            EXPECT_EQ(stopped->kind, *c.kind);
            EXPECT_EQ(stopped->why, c.why);
            EXPECT_EQ(exchanges.pid(), -1);
            EXPECT_TRUE(gone(first));
        }
        const ExchangeOutcome next = exchanges.exchange("next", ten_seconds);
        EXPECT_EQ(next.kind, Kind::answered) << next.why;
        EXPECT_NE(exchanges.pid(), first);
        EXPECT_TRUE(gone(first));
    }
}

// The helper's side of the pipe: requests one after another until its input
// ends; anything that is not a request ends it with status 2.
TEST(ExchangeHelperProcess, RequestsUntilTheInputEnds)
{
    const std::string refused = std::to_string(DVKC_EXCHANGE_TRUST_FILE) + " 0\n";
    struct Case {
        std::string input;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"0\n", 0, refused},
        {"3\nabc0\n", 0, refused + refused},
        {"x\n", 2, ""},
        {"-1\n", 2, ""},
        {"5\nabc", 2, ""},
        {"3", 2, ""},
        {std::string(40, '1') + "\n", 2, ""},
        {"1" + std::string(40, '0'), 2, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input.substr(0, 12));
        const ProcessResult run =
            test::run_tool({"--exchange-helper", "127.0.0.1", "1", "/", "/nonexistent/trust.pem"}, c.input);
        EXPECT_EQ(run.exit_status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
    EXPECT_EQ(test::run_tool({"--exchange-helper", "127.0.0.1", "1", "/"}).exit_status, 2);
    EXPECT_EQ(test::run_tool({"--exchange-helper", "127.0.0.1", "port", "/", "t.pem"}).exit_status, 2);
}

}  // namespace
}  // namespace dvkc::tool
