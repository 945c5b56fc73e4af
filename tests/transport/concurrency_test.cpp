// Threads released together at a barrier (label `concurrency`; the `tsan` preset runs it). CTest runs
// each case in a process of its own, so the threads make the process's first calls.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <barrier>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "echo_answer.h"
#include "exchange_helpers.h"
#include "transport/nosignal_bio.h"

namespace dvkc::test {
namespace {

// Runs body(t) on 8 threads released together; each must give "".
void race(const std::function<std::string(std::size_t)> &body)
{
    std::barrier<> start(8);
    std::vector<std::string> failures(8);
    std::vector<std::jthread> workers;
    for (std::size_t t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            failures[t] = body(t);
        });
    }
    workers.clear();  // joins them
    EXPECT_EQ(failures, std::vector<std::string>(8));
}

// The socket BIO's method is made on first use, with nothing of OpenSSL's in between to order the threads.
TEST(Concurrency, FirstSocketBiosRaceEachOther)
{
    int pair[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    race([&](std::size_t) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(transport::new_nosignal_socket_bio(pair[0]), BIO_free);
        return std::string(bio ? "" : "no BIO");
    });
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST(Concurrency, WholeQueriesFromManyThreads)
{
    const TempDir dir;
    const std::string identity = dir.write_file("identity.bin", "concurrent client");
    const std::string trust = shared_pki().trust_root_intermediate;
    const auto service = start_service({.identity = shared_pki().full_chain, .concurrent = true}, echo_handler());
    race([&](std::size_t t) {
        QueryRecord record{{}, "SSID", 0};
        std::snprintf(record.SN, sizeof record.SN, "T%zu", t);
        QueryContext context{{}, {}, {}, 0, 1, &record};
        char *document = nullptr, *envelope = nullptr;
        Received answer;
        const bool ok =
            iMake_DVKReqPKT(1, identity.c_str(), &context, &answer.length, &document) == DVKC_BUILD_OK &&
            iMake_DVKRequestPKT(answer.length, document, 3, "sig", &answer.length, &envelope) == DVKC_WRAP_OK &&
            (answer.result = iSSL_SendThenRecv("127.0.0.1", service->port(), trust.c_str(), "/dvk", answer.length,
                                               envelope, &answer.length, &answer.buffer)) == DVKC_EXCHANGE_OK &&
            iParse_DVKResponsePKT(&context, answer.length, answer.buffer) == DVKC_PARSE_OK &&
            record.Code == sample::default_code(record.SN);
        vFreeData(document);
        vFreeData(envelope);
        return ok ? std::string() : std::string(record.SN) + " failed; exchange gave " + std::to_string(answer.result);
    });
}

}  // namespace
}  // namespace dvkc::test
