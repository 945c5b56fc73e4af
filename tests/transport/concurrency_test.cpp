// Whole queries from many threads at once (CTest label `concurrency`; the
// `tsan` preset runs these under ThreadSanitizer). CTest runs each case in a
// process of its own, so the threads of FirstCallsRaceEachOther make the
// process's very first exchanges, all released together.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "echo_answer.h"
#include "exchange_helpers.h"

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
// wrong, or the empty text.
std::string whole_query(std::int32_t port, const std::string &identity, int thread, int query)
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
        return "build failed";
    }
    LibraryBuffer envelope;
    if (iMake_DVKRequestPKT(length, document.text, 3, "sig", &length, &envelope.text) != DVKC_WRAP_OK) {
        return "wrap failed";
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

// `threads` threads wait at one barrier, then each runs `queries` whole queries.
void run_threads(int threads, int queries)
{
    const TempDir dir;
    const std::string identity = dir.write_file("identity.bin", "concurrent client");
    ServiceOptions options;
    options.identity = shared_pki().full_chain;
    options.concurrent = true;
    options.record_requests = false;
    const auto service = start_service(options, echo_handler());

    std::barrier start(threads);
    std::vector<std::string> failures(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int q = 0; q < queries && failures[static_cast<std::size_t>(t)].empty(); ++q) {
                failures[static_cast<std::size_t>(t)] = whole_query(service->port(), identity, t, q);
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

// Declared first: in a process of its own these are the first exchanges.
TEST(Concurrency, FirstCallsRaceEachOther)
{
    run_threads(8, 1);
}

TEST(Concurrency, ManyThreadsWholeQueries)
{
    run_threads(6, 5);
}

}  // namespace
}  // namespace dvkc::test
