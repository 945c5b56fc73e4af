// Each exported call, the socket BIO and one whole query, with their 1st, 2nd, ... allocation failing (the
// library's own and OpenSSL's, on this thread) until a run gets through: all of the first 100, then
// DVKC_TORTURE_SAMPLES (default 300; 0: all) spread over the rest. Every run must give a documented result
// (or succeed, when OpenSSL could do without the memory), leave the out-parameters and the context as that
// result documents and no descriptor open (LeakSanitizer covers memory), and the next call must succeed.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "dvkc.h"
#include "echo_answer.h"
#include "exchange_helpers.h"
#include "interface/allocate.h"
#include "transport/nosignal_bio.h"

namespace dvkc::test {
namespace {

// While `counting`, allocations on this thread (not the test service's) are counted; the `fail_at`-th fails.
thread_local bool counting = false;
thread_local std::size_t counted = 0;
thread_local std::size_t fail_at = 0;

bool next_fails() noexcept
{
    return counting && ++counted == fail_at;
}

// Descriptors other than devices (OpenSSL may keep /dev/urandom open once its seeding fell back on it). The
// service closes its end of a connection after we have closed ours: waits a while for at most `expected`.
std::vector<std::string> open_descriptors(std::size_t expected = SIZE_MAX)
{
    for (int waited_ms = 0;; ++waited_ms) {
        std::vector<std::string> open;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
            if (!error && !target.starts_with("/dev/") && !target.starts_with("/proc/")) {
                open.push_back(entry.path().filename().string() + '=' + target);
            }
        }
        if (open.size() <= expected || waited_ms == 10000) {
            return open;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// One run: "ok" or the step that failed and its result, and the first check that did not hold.
struct Attempt {
    std::string outcome = "ok";
    std::string problem;
    std::size_t allocations = 0;
    void check(bool holds, const char *what) { problem = holds || !problem.empty() ? problem : what; }
    std::int32_t step(const char *name, std::int32_t result)
    {
        outcome = result == 0 ? outcome : name + (' ' + std::to_string(result));
        return result;
    }
};

enum Stage { kBio, kBuild, kWrap, kExchange, kParse, kFree, kHex };

struct Row {
    const char *name;
    Stage first;  // the stages from first to last are counted, those before give them their input
    Stage last;   // and the query stops after last
};

const std::int32_t kExchangeFailures[] = {
    DVKC_EXCHANGE_NO_MEMORY,      DVKC_EXCHANGE_TLS_INIT,    DVKC_EXCHANGE_TLS_CONTEXT, DVKC_EXCHANGE_TRUST_FILE,
    DVKC_EXCHANGE_TLS_CONNECTION, DVKC_EXCHANGE_TLS_ATTACH,  DVKC_EXCHANGE_HANDSHAKE,   DVKC_EXCHANGE_NO_SERVER_CERT,
    DVKC_EXCHANGE_SUBJECT_NAME,   DVKC_EXCHANGE_ISSUER_NAME, DVKC_EXCHANGE_WRITE,       DVKC_EXCHANGE_CHAIN_KEY};

struct World {
    TempDir dir;
    std::string identity = dir.write_file("identity", "the client's identity");
    std::unique_ptr<TlsService> echo = start_service(shared_pki().full_chain, echo_handler());
    static World &once()
    {
        static World world;
        return world;
    }
};

// A socket BIO, a whole query, then bin2hex.
void query(Attempt &a, const Row &row)
{
    const auto stage = [&](Stage s) {
        counting = row.first <= s && s <= row.last;
        return s <= row.last;
    };
    int ends[2] = {-1, -1};
    a.check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "socketpair");
    stage(kBio);
    BIO *bio = transport::new_nosignal_socket_bio(ends[0]);
    a.step("BIO", bio != nullptr ? 0 : -1);
    BIO_free(bio);
    close(ends[0]);
    close(ends[1]);

    QueryRecord records[2] = {{"SN-0001", "SSID-A", 777}, {"A1", "xy", 777}};
    const auto codes_are = [&](std::int32_t code) { return records[0].Code == code && records[1].Code == code; };
    QueryContext ctx{"qqqq", "nnnn", "tttt", 99, 2, records};
    Received document, envelope, answer;
    if (!stage(kBuild)) {
        return;
    }
    const std::int32_t built =
        a.step("build", iMake_DVKReqPKT(7, World::once().identity.c_str(), &ctx, &document.length, &document.buffer));
    const bool kept = document.out_parameters_untouched() && ctx.ErrID == 0 && codes_are(777);
    const bool only_err_id = ctx.ClientID[0] == 'q' && ctx.Nonce[0] == 'n' && ctx.ReqTime[0] == 't';
    a.check(built == DVKC_BUILD_OK ? document.text() == document.buffer && codes_are(-1) && ctx.ErrID == 0
                                   : kept && (built == DVKC_BUILD_IDENTITY_UNREADABLE
                                                  ? only_err_id
                                                  : built == DVKC_BUILD_NO_MEMORY && ctx.ClientID[0] != 'q'),
            "build: undocumented result, or what it wrote");
    if (built != DVKC_BUILD_OK || !stage(kWrap)) {
        return;
    }
    const std::int32_t wrapped = a.step(
        "wrap", iMake_DVKRequestPKT(document.length, document.buffer, 3, "SIG", &envelope.length, &envelope.buffer));
    a.check(wrapped == DVKC_WRAP_OK ? envelope.text() == envelope.buffer
                                    : wrapped == DVKC_WRAP_NO_MEMORY && envelope.out_parameters_untouched(),
            "wrap: undocumented result, length or out-parameters");
    if (wrapped != DVKC_WRAP_OK || !stage(kExchange)) {
        return;
    }
    const std::int32_t sent =
        a.step("exchange",
               iSSL_SendThenRecv("127.0.0.1", World::once().echo->port(), shared_pki().trust_root_intermediate.c_str(),
                                 "/dvk", envelope.length, envelope.buffer, &answer.length, &answer.buffer));
    a.check(sent == DVKC_EXCHANGE_OK ||
                (std::ranges::count(kExchangeFailures, sent) == 1 && answer.out_parameters_untouched()),
            "exchange: undocumented result, or out-parameters written");
    a.check(codes_are(-1), "exchange: codes changed");
    if (sent != DVKC_EXCHANGE_OK || !stage(kParse)) {
        return;
    }
    const std::int32_t parsed = a.step("parse", iParse_DVKResponsePKT(&ctx, answer.length, answer.buffer));
    if (std::string_view(answer.buffer).ends_with("</DVKResponse>")) {
        a.check(parsed == DVKC_PARSE_OK && records[0].Code == sample::default_code("SN-0001") && records[1].Code == 114,
                "parse of the whole echo answer");
    } else {  // cut where a read failed (a failing read ends the answer as a close would): refused
        a.check(parsed != DVKC_PARSE_OK && codes_are(-1), "parse: a cut answer accepted");
    }
    if (!stage(kFree)) {
        return;
    }
    for (Received *text : {&document, &envelope, &answer}) {
        vFreeData(std::exchange(text->buffer, &untouched_marker));
    }
    vFreeData(nullptr);
    if (!stage(kHex)) {
        return;
    }
    const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
    char hex[7];
    a.check(a.step("bin2hex", bin2hex(bytes, 3, hex)) == 0 && std::string_view(hex) == "00ABFF", "bin2hex");
}

Attempt attempt(const Row &row, std::size_t failing)
{
    Attempt a;
    counted = 0;
    fail_at = failing;
    query(a, row);
    counting = false;
    a.allocations = counted;
    return a;
}

class EveryAllocationFails : public testing::TestWithParam<Row> {};

TEST_P(EveryAllocationFails, InTurn)
{
    const Row &row = GetParam();
    std::size_t points = 0;
    if (row.first != kBio) {  // the BIO row comes first in its process: its method table is built on first use
        World::once();
        const Attempt clean = attempt(row, 0);  // sets up what OpenSSL makes once per process
        ASSERT_EQ(clean.outcome + clean.problem, "ok");
        points = attempt(row, 0).allocations;
    }
    const char *setting = std::getenv("DVKC_TORTURE_SAMPLES");
    const std::size_t samples = setting != nullptr ? std::strtoull(setting, nullptr, 10) : 300;
    const std::size_t step = points <= 100 || samples == 0 ? 1 : std::max<std::size_t>(1, (points - 100) / samples);
    std::size_t baseline = open_descriptors().size();
    std::map<std::string, std::size_t> outcomes;
    for (std::size_t n = 1;; n += n < 100 ? 1 : step) {
        const Attempt failing = attempt(row, n);
        ++outcomes[failing.outcome];
        EXPECT_EQ(failing.problem, "") << "allocation " << n << " failing: " << failing.outcome;
        const std::vector<std::string> open = open_descriptors(baseline);
        ASSERT_LE(open.size(), baseline) << "allocation " << n
                                         << " failing left open: " << testing::PrintToString(open);
        baseline = open.size();  // lower when a connection the service had open before has closed since
        if (failing.allocations < n) {
            EXPECT_EQ(failing.outcome, "ok") << "the run past the last allocation";
            break;
        }
        const Attempt next = attempt(row, 0);
        EXPECT_EQ(next.outcome + next.problem, "ok") << "the call after allocation " << n << " failing";
        ASSERT_LT(n, 4 * points + 1000) << "never got through";
    }
    std::printf("%s: %zu allocation points; all of the first 100 failed, then every %zu-th: %s\n", row.name, points,
                step, testing::PrintToString(outcomes).c_str());
}

INSTANTIATE_TEST_SUITE_P(Calls, EveryAllocationFails,
                         testing::Values(Row{"SocketBio", kBio, kBio}, Row{"iMake_DVKReqPKT", kBuild, kBuild},
                                         Row{"iMake_DVKRequestPKT", kWrap, kWrap},
                                         Row{"iSSL_SendThenRecv", kExchange, kExchange},
                                         Row{"iParse_DVKResponsePKT", kParse, kParse}, Row{"vFreeData", kFree, kFree},
                                         Row{"bin2hex", kHex, kHex}, Row{"WholeQuery", kBuild, kFree}),
                         [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dvkc::test

int main(int argc, char **argv)
{
    using dvkc::test::next_fails;
    // OpenSSL takes its memory functions only before its first allocation.
    if (CRYPTO_set_mem_functions(
            [](std::size_t size, const char *, int) { return next_fails() ? nullptr : std::malloc(size); },
            [](void *block, std::size_t size, const char *, int) {
                return size != 0 && next_fails() ? nullptr : std::realloc(block, size);  // a failed one keeps block
            },
            [](void *block, const char *, int) { std::free(block); }) != 1) {
        std::fprintf(stderr, "OpenSSL allocated before main(): cannot count its allocations\n");
        return 1;
    }
    dvkc::test_seam::set_allocate_hook([](std::size_t size) { return next_fails() ? nullptr : std::malloc(size); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
