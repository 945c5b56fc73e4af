// Threads released together at a gate (label `concurrency`; the `tsan` preset runs it, and the Windows
// build under Wine). CTest runs each case in a process of its own, so the threads make the process's
// first calls.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "echo_answer.h"
#include "exchange_helpers.h"
#include "platform/socket_close.h"
#include "platform/sockets_layer.h"
#include "platform/tcp_socket.h"
#include "transport/nosignal_bio.h"

namespace dvkc::test {
namespace {

// Holds threads until the last of them arrives. A mutex and a condition
// variable: a wake-up is never lost, whatever the platform's threads are
// (mingw-w64's std::barrier, without a futex, can lose one under Wine).
class Gate {
public:
    explicit Gate(std::size_t count) : waiting_(count) {}

    void arrive_and_wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) {
            open_.notify_all();
            return;
        }
        open_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable open_;
    std::size_t waiting_;
};

// Runs body(t) on 8 threads released together; each must give "".
void race(const std::function<std::string(std::size_t)> &body)
{
    Gate start(8);
    std::vector<std::string> failures(8);
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            failures[t] = body(t);
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    EXPECT_EQ(failures, std::vector<std::string>(8));
}

// The socket BIO's method is made on first use, with nothing of OpenSSL's in between to order the threads.
TEST(Concurrency, FirstSocketBiosRaceEachOther)
{
    platform::SocketsLayerSession sockets_layer;  // Windows needs it for a socket
    std::uint16_t granted = 0;
    ASSERT_EQ(platform::start_sockets_layer(platform::kSocketsLayerVersion, granted), 0);
    sockets_layer.started();
    const platform::UniqueSocket socket(platform::open_tcp_socket());
    ASSERT_TRUE(socket.valid());
    race([&](std::size_t) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(transport::new_nosignal_socket_bio(socket.get()), BIO_free);
        return std::string(bio ? "" : "no BIO");
    });
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
