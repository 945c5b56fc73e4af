// Each exported call, and one whole query, with its 1st, 2nd, ... allocation
// failing (the library's own and OpenSSL's), until a run gets through without
// a failure. Every run must end in one of the call's documented results (or
// succeed, when OpenSSL could do without the memory), leave the
// out-parameters and the context as documented for that result, leak nothing
// (LeakSanitizer in the asan build), leave no descriptor open, and the next
// call without failures must succeed.
//
// An exchange makes thousands of allocations, so beyond the first 100 every
// k-th is failed, k chosen per row; DVKC_TORTURE_SAMPLES=<n> sets how many
// runs a row makes beyond the first 100 (0: every allocation). Each row
// prints how many allocation points it found and how many it ran.
#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "dvkc.h"
#include "echo_answer.h"
#include "exchange_helpers.h"
#include "failing_allocator.h"
#include "transport/nosignal_bio.h"

namespace dvkc::test {
namespace {

// --- The socket BIO's method table (its first build must be the process's) ---

TEST(SocketBioMethod, AFailedBuildIsNotRemembered)
{
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    for (std::size_t n = 1;; ++n) {
        BIO *bio = nullptr;
        bool injected = false;
        {
            const FailingAllocations failing(n);
            bio = transport::new_nosignal_socket_bio(ends[0]);
            injected = failing.failed_one();
        }
        if (bio == nullptr) {
            BIO *again = transport::new_nosignal_socket_bio(ends[0]);
            EXPECT_NE(again, nullptr) << "after failing allocation " << n;
            BIO_free(again);
        }
        BIO_free(bio);
        if (!injected) {
            EXPECT_NE(bio, nullptr);
            break;
        }
    }
    close(ends[0]);
    close(ends[1]);
}

// --- Shared by the rows ---

// Descriptors other than devices: the library's are sockets and files. A
// device stays out of the count, as OpenSSL may keep /dev/urandom open for
// the rest of the process once its seeding had to fall back on it.
std::size_t open_descriptors()
{
    std::size_t count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(dir)) {
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (entry->d_name[0] != '.' && readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::strncmp(target, "/dev/", 5) != 0) {
                ++count;
            }
        }
        closedir(dir);
        --count;  // the directory's own
    }
    return count;
}

// What each open descriptor refers to, for the failure message.
std::string descriptor_targets()
{
    std::string targets;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(dir)) {
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (entry->d_name[0] != '.' && readlink(link.c_str(), target, sizeof target - 1) > 0) {
                targets += std::string(" ") + entry->d_name + "=" + target;
            }
        }
        closedir(dir);
    }
    return targets;
}

// The service closes its end of a connection once we have closed ours: give
// it time. Lowers `baseline` when a connection of the service that was still
// open when it was taken has closed since.
bool descriptors_return_to(std::size_t &baseline)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const std::size_t now = open_descriptors();
        if (now <= baseline) {
            baseline = now;
            break;
        }
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

const std::string kFixedAnswer = "HTTP/1.0 200 OK\r\n\r\n<DVKResponse>fixed</DVKResponse>";

struct World {
    TempDir dir;
    std::string identity = dir.write_file("identity", "the client's identity");
    std::unique_ptr<TlsService> fixed = start_service(shared_pki().full_chain, fixed_answer(kFixedAnswer));
    std::unique_ptr<TlsService> echo = start_service(shared_pki().full_chain, echo_handler());
};

World &world()
{
    static World w;
    return w;
}

// One run of a row.
struct Attempt {
    bool injected = false;    // the failing allocation was reached
    std::size_t counted = 0;  // allocations the run made
    std::string outcome;      // e.g. "build -2"; "ok" for success
    std::string problem;      // empty when every check held
};

class Run {
public:
    explicit Run(std::size_t fail_at) : failing_(std::make_unique<FailingAllocations>(fail_at)) {}
    void finish(Attempt &attempt)
    {
        attempt.injected = failing_->failed_one();
        attempt.counted = failing_->counted();
        failing_.reset();
    }

private:
    std::unique_ptr<FailingAllocations> failing_;
};

void expect(Attempt &a, bool condition, const char *what)
{
    if (!condition && a.problem.empty()) {
        a.problem = what;
    }
}

struct LibraryText {
    void operator()(char *text) const noexcept { vFreeData(text); }
};
using Text = std::unique_ptr<char, LibraryText>;

// Out-parameters that show whether they were written.
struct Out {
    std::int32_t length = kUntouchedLength;
    char *buffer = &untouched_marker;
    bool untouched() const { return length == kUntouchedLength && buffer == &untouched_marker; }
    Text take()
    {
        char *written = std::exchange(buffer, &untouched_marker);
        return Text(written != &untouched_marker ? written : nullptr);
    }
};

struct Query {
    QueryRecord records[2]{};
    QueryContext ctx{};
    Query()
    {
        std::strcpy(records[0].SN, "SN-0001");
        std::strcpy(records[0].SSID, "SSID-A");
        std::strcpy(records[1].SN, "A1");
        std::strcpy(records[1].SSID, "xy");
        records[0].Code = records[1].Code = 777;
        std::memset(ctx.ClientID, 'q', sizeof ctx.ClientID - 1);
        std::memset(ctx.Nonce, 'n', sizeof ctx.Nonce - 1);
        std::memset(ctx.ReqTime, 't', sizeof ctx.ReqTime - 1);
        ctx.ErrID = 99;
        ctx.TotalCount = 2;
        ctx.Records = records;
    }
    bool codes_are(std::int32_t code) const { return records[0].Code == code && records[1].Code == code; }
};

// iMake_DVKReqPKT's result, checked against what each result leaves written.
std::int32_t build_step(Attempt &a, Query &q, Out &out)
{
    const std::int32_t result = iMake_DVKReqPKT(7, world().identity.c_str(), &q.ctx, &out.length, &out.buffer);
    switch (result) {
    case DVKC_BUILD_OK:
        expect(a, out.length == static_cast<std::int32_t>(std::strlen(out.buffer)), "build: length");
        expect(a, q.codes_are(-1) && q.ctx.ErrID == 0, "build: context after 0");
        break;
    case DVKC_BUILD_IDENTITY_UNREADABLE:
        expect(a, out.untouched(), "build -1: out-parameters written");
        expect(a,
               q.ctx.ErrID == 0 && q.ctx.ClientID[0] == 'q' && q.ctx.Nonce[0] == 'n' && q.ctx.ReqTime[0] == 't' &&
                   q.codes_are(777),
               "build -1: more than ErrID changed");
        break;
    case DVKC_BUILD_NO_MEMORY:
        expect(a, out.untouched(), "build -2: out-parameters written");
        expect(a, q.ctx.ErrID == 0 && q.ctx.ClientID[0] != 'q' && q.codes_are(777), "build -2: context");
        break;
    default:
        expect(a, false, "build: undocumented result");
    }
    return result;
}

std::int32_t wrap_step(Attempt &a, const char *document, std::int32_t length, Out &out)
{
    const std::int32_t result = iMake_DVKRequestPKT(length, document, 3, "SIG", &out.length, &out.buffer);
    if (result == DVKC_WRAP_OK) {
        expect(a, out.length == static_cast<std::int32_t>(std::strlen(out.buffer)), "wrap: length");
    } else {
        expect(a, result == DVKC_WRAP_NO_MEMORY, "wrap: undocumented result");
        expect(a, out.untouched(), "wrap -1: out-parameters written");
    }
    return result;
}

// The results an exchange may give when memory runs out somewhere.
const std::set<std::int32_t> kExchangeFailures = {
    DVKC_EXCHANGE_NO_MEMORY,      DVKC_EXCHANGE_TLS_INIT,    DVKC_EXCHANGE_TLS_CONTEXT, DVKC_EXCHANGE_TRUST_FILE,
    DVKC_EXCHANGE_TLS_CONNECTION, DVKC_EXCHANGE_TLS_ATTACH,  DVKC_EXCHANGE_HANDSHAKE,   DVKC_EXCHANGE_NO_SERVER_CERT,
    DVKC_EXCHANGE_SUBJECT_NAME,   DVKC_EXCHANGE_ISSUER_NAME, DVKC_EXCHANGE_WRITE,       DVKC_EXCHANGE_CHAIN_KEY};

std::int32_t exchange_step(Attempt &a, const TlsService &service, const char *body, std::int32_t length, Out &out)
{
    const std::int32_t result =
        iSSL_SendThenRecv("127.0.0.1", service.port(), shared_pki().trust_root_intermediate.c_str(), "/dvk", length,
                          body, &out.length, &out.buffer);
    if (result != DVKC_EXCHANGE_OK) {
        expect(a, kExchangeFailures.count(result) == 1, "exchange: undocumented result");
        expect(a, out.untouched(), "exchange: out-parameters written on failure");
    }
    return result;
}

std::string named(const char *step, std::int32_t result)
{
    return result == 0 ? "ok" : std::string(step) + ' ' + std::to_string(result);
}

using Subject = std::function<Attempt(std::size_t fail_at)>;

Attempt build_row(std::size_t fail_at)
{
    Attempt a;
    Query q;
    Out out;
    Run run(fail_at);
    const std::int32_t result = build_step(a, q, out);
    run.finish(a);
    out.take();
    a.outcome = named("build", result);
    return a;
}

Attempt wrap_row(std::size_t fail_at)
{
    Attempt a;
    Out out;
    Run run(fail_at);
    const std::int32_t result = wrap_step(a, "<DVKReq></DVKReq>", 17, out);
    run.finish(a);
    out.take();
    a.outcome = named("wrap", result);
    return a;
}

Attempt exchange_row(std::size_t fail_at)
{
    Attempt a;
    Out out;
    Run run(fail_at);
    const std::int32_t result = exchange_step(a, *world().fixed, "X", 1, out);
    run.finish(a);
    if (result == 0) {
        // A read that fails ends the answer as a close would: what came before it is kept.
        expect(a, kFixedAnswer.starts_with(out.buffer), "exchange: an answer that was not sent");
    }
    out.take();
    a.outcome = named("exchange", result);
    return a;
}

Attempt parse_row(std::size_t fail_at)
{
    Attempt a;
    Query q;
    std::strcpy(q.ctx.ClientID, "C0FFEE");
    std::strcpy(q.ctx.Nonce, "N0nce");
    const std::string answer =
        "HTTP/1.0 200 OK\r\n\r\n<DVKResponse><ClientID>C0FFEE</ClientID><Nonce>N0nce</Nonce><ReqTime>20260101000000"
        "</ReqTime><TotalCount>1</TotalCount><Rec><ID>0</ID><SN>S</SN><SSID4>I</SSID4><Code>5</Code></Rec>"
        "</DVKResponse>";
    Run run(fail_at);
    const std::int32_t result = iParse_DVKResponsePKT(&q.ctx, static_cast<std::int32_t>(answer.size()), answer.c_str());
    run.finish(a);
    expect(a, result == DVKC_PARSE_OK && q.records[0].Code == 5 && q.records[1].Code == 777, "parse");
    a.outcome = named("parse", result);
    return a;
}

Attempt bin2hex_row(std::size_t fail_at)
{
    Attempt a;
    const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
    char hex[7];
    Run run(fail_at);
    const std::int32_t result = bin2hex(bytes, 3, hex);
    run.finish(a);
    expect(a, result == 0 && std::string(hex) == "00ABFF", "bin2hex");
    a.outcome = named("bin2hex", result);
    return a;
}

Attempt free_data_row(std::size_t fail_at)
{
    Attempt a;
    Out out;
    if (wrap_step(a, "d", 1, out) != 0) {
        a.problem = "setup: no envelope to free";
        return a;
    }
    Run run(fail_at);
    vFreeData(out.buffer);
    vFreeData(nullptr);
    run.finish(a);
    a.outcome = "ok";
    return a;
}

Attempt whole_query_row(std::size_t fail_at)
{
    Attempt a;
    Query q;
    Out document;
    Out envelope;
    Out answer;
    Run run(fail_at);
    std::int32_t result = build_step(a, q, document);
    a.outcome = named("build", result);
    if (result == 0) {
        result = wrap_step(a, document.buffer, document.length, envelope);
        a.outcome = named("wrap", result);
    }
    if (result == 0) {
        result = exchange_step(a, *world().echo, envelope.buffer, envelope.length, answer);
        a.outcome = named("exchange", result);
        expect(a, q.codes_are(-1), "exchange: codes changed");
    }
    if (result == 0) {
        result = iParse_DVKResponsePKT(&q.ctx, answer.length, answer.buffer);
        a.outcome = named("parse", result);
        if (std::string_view(answer.buffer).ends_with("</DVKResponse>")) {
            expect(a, result == DVKC_PARSE_OK, "parse of the whole echo answer failed");
            expect(a, q.records[0].Code == sample::default_code("SN-0001") && q.records[1].Code == 114, "parse: codes");
        } else {
            // The answer was cut where a read failed: the parser must refuse it.
            expect(a, result != DVKC_PARSE_OK && q.codes_are(-1), "parse: a cut answer accepted");
        }
    }
    run.finish(a);
    document.take();
    envelope.take();
    answer.take();
    return a;
}

struct Row {
    const char *name;
    Subject subject;
};

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

std::size_t samples_beyond_the_first_hundred()
{
    const char *setting = std::getenv("DVKC_TORTURE_SAMPLES");
    return setting != nullptr ? static_cast<std::size_t>(std::strtoull(setting, nullptr, 10)) : 300;
}

class EveryAllocationFails : public testing::TestWithParam<Row> {};

TEST_P(EveryAllocationFails, InTurn)
{
    const Row &row = GetParam();
    world();
    // A clean run first: it counts the allocation points and warms up what
    // OpenSSL sets up once per process.
    const Attempt clean = row.subject(0);
    ASSERT_EQ(clean.problem, "") << clean.outcome;
    ASSERT_EQ(clean.outcome, "ok");
    const std::size_t points = row.subject(0).counted;
    std::size_t baseline = open_descriptors();

    const std::size_t samples = samples_beyond_the_first_hundred();
    const std::size_t step = points <= 100 || samples == 0 ? 1 : std::max<std::size_t>(1, (points - 100) / samples);
    std::size_t runs = 0;
    std::map<std::string, std::size_t> outcomes;
    for (std::size_t n = 1;; n += n < 100 ? 1 : step) {
        const Attempt attempt = row.subject(n);
        ++runs;
        ++outcomes[attempt.outcome];
        EXPECT_EQ(attempt.problem, "") << row.name << ", allocation " << n << " failing: " << attempt.outcome;
        if (!descriptors_return_to(baseline)) {
            ADD_FAILURE() << row.name << ", allocation " << n << " (" << attempt.outcome
                          << "): descriptor left open:" << descriptor_targets();
            break;  // every later run would wait for it in vain
        }
        if (!attempt.injected) {
            EXPECT_EQ(attempt.outcome, "ok") << row.name << ": the run past the last allocation";
            break;
        }
        const Attempt next = row.subject(0);
        EXPECT_TRUE(next.outcome == "ok" && next.problem.empty())
            << row.name << ": the call after allocation " << n << " failed: " << next.outcome << ' ' << next.problem;
        if (n > 4 * points + 1000) {
            ADD_FAILURE() << row.name << ": never got through";
            break;
        }
    }
    std::string summary;
    for (const auto &[outcome, count] : outcomes) {
        summary += ' ' + outcome + " x" + std::to_string(count);
    }
    std::printf("%s: %zu allocation points, %zu runs (all of the first 100, then every %zu-th):%s\n", row.name, points,
                runs, step, summary.c_str());
    RecordProperty("allocation_points", static_cast<int>(points));
    RecordProperty("runs", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(Calls, EveryAllocationFails,
                         testing::Values(Row{"iMake_DVKReqPKT", build_row}, Row{"iMake_DVKRequestPKT", wrap_row},
                                         Row{"iSSL_SendThenRecv", exchange_row},
                                         Row{"iParse_DVKResponsePKT", parse_row}, Row{"bin2hex", bin2hex_row},
                                         Row{"vFreeData", free_data_row}, Row{"WholeQuery", whole_query_row}),
                         [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dvkc::test

int main(int argc, char **argv)
{
    // Before anything else: OpenSSL takes its memory functions only before
    // its first allocation.
    if (!dvkc::test::install_failing_allocator()) {
        std::fprintf(stderr, "OpenSSL allocated before main(): cannot count its allocations\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
