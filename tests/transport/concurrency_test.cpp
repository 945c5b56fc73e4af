// Whole queries from many threads at once (CTest label `concurrency`; the
// `tsan` preset runs these under ThreadSanitizer). CTest runs each case in a
// process of its own, so the threads of FirstCallsRaceEachOther make the
// process's very first exchanges, all released together.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <barrier>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "echo_answer.h"
#include "exchange_helpers.h"
#include "transport/nosignal_bio.h"

namespace dvkc::test {
namespace {

struct LibraryBuffer {
    char *text = nullptr;
    LibraryBuffer() = default;
    LibraryBuffer(const LibraryBuffer &) = delete;
    LibraryBuffer &operator=(const LibraryBuffer &) = delete;
    ~LibraryBuffer() { vFreeData(text); }
};

// Build, wrap, post and parse one query of three records; returns what went
// wrong, or the empty text. With a barrier, waits there between wrapping and
// posting, so that the threads' exchanges start together.
std::string whole_query(std::int32_t port, const std::string &identity, int thread, int query,
                        std::barrier<> *before_exchange)
{
    QueryRecord records[3]{};
    for (int i = 0; i < 3; ++i) {
        const std::string sn = "T" + std::to_string(thread) + "Q" + std::to_string(query) + "R" + std::to_string(i);
        std::strncpy(records[i].SN, sn.c_str(), DVKC_SN_MAX);
        std::strncpy(records[i].SSID, "SSID", DVKC_SSID_MAX);
    }
    QueryContext context{};
    context.TotalCount = 3;
    context.Records = records;

    std::int32_t length = 0;
    LibraryBuffer document;
    if (iMake_DVKReqPKT(thread * 100 + query, identity.c_str(), &context, &length, &document.text) != DVKC_BUILD_OK) {
        if (before_exchange != nullptr) {
            before_exchange->arrive_and_drop();
        }
        return "build failed";
    }
    LibraryBuffer envelope;
    if (iMake_DVKRequestPKT(length, document.text, 3, "sig", &length, &envelope.text) != DVKC_WRAP_OK) {
        if (before_exchange != nullptr) {
            before_exchange->arrive_and_drop();
        }
        return "wrap failed";
    }
    if (before_exchange != nullptr) {
        before_exchange->arrive_and_wait();
    }
    LibraryBuffer answer;
    const std::int32_t sent = iSSL_SendThenRecv("127.0.0.1", port, shared_pki().trust_root_intermediate.c_str(), "/dvk",
                                                length, envelope.text, &length, &answer.text);
    if (sent != DVKC_EXCHANGE_OK) {
        return "exchange gave " + std::to_string(sent);
    }
    const std::int32_t parsed = iParse_DVKResponsePKT(&context, length, answer.text);
    if (parsed != DVKC_PARSE_OK) {
        return "parse gave " + std::to_string(parsed);
    }
    for (const QueryRecord &record : records) {
        if (record.Code != sample::default_code(record.SN)) {
            return std::string("wrong code for ") + record.SN;
        }
    }
    return {};
}

// `threads` threads each run `queries` whole queries; their first exchanges
// start together.
void run_threads(int threads, int queries)
{
    const TempDir dir;
    const std::string identity = dir.write_file("identity.bin", "concurrent client");
    ServiceOptions options;
    options.identity = shared_pki().full_chain;
    options.concurrent = true;
    options.record_requests = false;
    const auto service = start_service(options, echo_handler());

    std::barrier<> start(threads);
    std::vector<std::string> failures(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int q = 0; q < queries && failures[static_cast<std::size_t>(t)].empty(); ++q) {
                failures[static_cast<std::size_t>(t)] =
                    whole_query(service->port(), identity, t, q, q == 0 ? &start : nullptr);
            }
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    for (int t = 0; t < threads; ++t) {
        EXPECT_EQ(failures[static_cast<std::size_t>(t)], "") << "thread " << t;
    }
    service->stop();
    EXPECT_EQ(service->answers_sent(), static_cast<std::size_t>(threads * queries));
}

// In a process of its own (as CTest runs each case) these are the first exchanges.
TEST(Concurrency, FirstCallsRaceEachOther)
{
    run_threads(8, 1);
}

// The socket BIO's method is made on first use: threads released together
// each make their first BIO, with nothing of OpenSSL's in between to order them.
TEST(Concurrency, FirstSocketBiosRaceEachOther)
{
    constexpr int kThreads = 8;
    int pair[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    std::barrier<> start(kThreads);
    std::vector<int> made(kThreads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            BIO *bio = transport::new_nosignal_socket_bio(pair[0]);
            made[static_cast<std::size_t>(t)] = bio != nullptr ? 1 : 0;
            BIO_free(bio);
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    ::close(pair[0]);
    ::close(pair[1]);
    EXPECT_EQ(made, std::vector<int>(kThreads, 1));
}

TEST(Concurrency, ManyThreadsWholeQueries)
{
    run_threads(6, 5);
}

}  // namespace
}  // namespace dvkc::test
