// The TLS service's limits on connections: which connection makes room when
// every worker is taken, that clients over the limit are never cut off in
// their handshake, and the whole-connection deadline.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dvkc.hpp"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tls_service.h"

namespace dvkc::sample {
namespace {

using namespace std::chrono_literals;

const std::string kAnswer = "HTTP/1.0 200 OK\r\nContent-length: 2\r\n\r\nok";
const std::string kRequest = "POST /dvk HTTP/1.0\r\nContent-length: 1\r\n\r\nx";

const ThrowawayPki &pki()
{
    static const TempDir dir("dvkc-limits-");
    static const ThrowawayPki made = make_throwaway_pki(dir.path());
    return made;
}

// A client connection the test drives by hand: idle, or one request over
// TLS and then as the test likes.
class Client {
public:
    explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
            throw std::runtime_error("cannot connect to the service");
        }
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    ~Client() { ::close(fd_); }

    // A request over TLS, its answer read to the end; the socket stays open.
    std::string request()
    {
        const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
        const std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context.get()), SSL_free);
        std::string answer;
        if (SSL_set_fd(tls.get(), fd_) != 1 || SSL_connect(tls.get()) != 1 ||
            SSL_write(tls.get(), kRequest.data(), static_cast<int>(kRequest.size())) <= 0) {
            return answer;
        }
        char block[512];
        for (int count = 0; (count = SSL_read(tls.get(), block, sizeof block)) > 0;) {
            answer.append(block, static_cast<std::size_t>(count));
        }
        return answer;
    }

    // A byte on the bare socket, as a client keeping the connection alive.
    bool send_byte() const { return ::send(fd_, "k", 1, MSG_NOSIGNAL) == 1; }

    // Whether the service ended the connection within `limit` (an idle
    // connection sees its end as the end of the stream).
    bool ended_within(std::chrono::milliseconds limit) const
    {
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(limit.count())) != 1) {
            return false;
        }
        char byte = 0;
        return ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
    }

private:
    int fd_;
};

ServiceOptions limited(std::size_t workers)
{
    ServiceOptions options;
    options.identity = pki().leaf_intermediate;
    options.concurrent = true;
    options.max_connections = workers;
    options.evict_idle_after_ms = 200;
    options.record_requests = false;
    return options;
}

// One exchange through the library, in a thread of its own, given up after
// 20 s (stopping the service then ends it).
std::future<std::string> exchange_later(std::uint16_t port)
{
    return std::async(std::launch::async, [port] {
        try {
            return std::string(dvkc::exchange({"127.0.0.1", port, "/dvk", pki().trust_root_intermediate}, "x").view());
        } catch (const dvkc::Error &e) {
            return std::string("failed: ") + e.what();
        }
    });
}

std::string answer_of(std::future<std::string> &exchange)
{
    return exchange.wait_for(20s) == std::future_status::ready ? exchange.get() : "no answer within 20 s";
}

// Every worker taken by two idle connections: a new client takes the place
// of the one that has waited longest; the younger one stays.
TEST(ConnectionLimits, TheOldestIdleConnectionMakesRoom)
{
    TlsService service(limited(2), fixed_answer(kAnswer));
    service.start();
    const Client oldest(service.port());
    std::this_thread::sleep_for(50ms);
    const Client younger(service.port());
    std::this_thread::sleep_for(250ms);  // both idle past the service's 200 ms
    auto newcomer = exchange_later(service.port());
    EXPECT_EQ(answer_of(newcomer), kAnswer);
    EXPECT_TRUE(oldest.ended_within(5s));
    EXPECT_FALSE(younger.ended_within(100ms));
    service.stop();
}

// A connection being answered is never the one closed for a newcomer: the
// idle one is, even though it came later.
TEST(ConnectionLimits, AConnectionBeingAnsweredIsNeverEvicted)
{
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    TlsService service(limited(2), [&](const ServiceRequest &) {
        if (calls++ == 0) {
            released.wait_for(20s);
        }
        return kAnswer;
    });
    service.start();
    auto answered = exchange_later(service.port());
    while (calls.load() == 0) {
        std::this_thread::sleep_for(5ms);
    }
    const Client idle(service.port());
    std::this_thread::sleep_for(250ms);
    auto newcomer = exchange_later(service.port());
    EXPECT_EQ(answer_of(newcomer), kAnswer);
    EXPECT_TRUE(idle.ended_within(5s));
    release.set_value();
    EXPECT_EQ(answer_of(answered), kAnswer);
    service.stop();
}

// Answered clients that then keep their sockets alive with a byte now and
// then, as many as there are workers, never keep a newcomer out.
TEST(ConnectionLimits, AnsweredClientsKeepingTheirSocketsAliveMakeRoom)
{
    ServiceOptions options = limited(2);
    options.idle_timeout_ms = 5000;  // never reached: the bytes come more often
    TlsService service(options, fixed_answer(kAnswer));
    service.start();
    Client first(service.port()), second(service.port());
    ASSERT_EQ(first.request(), kAnswer);
    ASSERT_EQ(second.request(), kAnswer);
    std::atomic<bool> done{false};
    std::thread keep_alive([&] {
        while (!done.load()) {
            first.send_byte();
            second.send_byte();
            std::this_thread::sleep_for(50ms);
        }
    });
    auto newcomer = exchange_later(service.port());
    const std::string answer = answer_of(newcomer);
    done = true;
    keep_alive.join();
    EXPECT_EQ(answer, kAnswer);
    service.stop();
}

// Many more clients than workers, all at once: every one is answered; none
// is closed in the middle of its handshake to make room for another.
TEST(ConnectionLimits, ClientsOverTheLimitWaitInsteadOfBeingCutOff)
{
    ServiceOptions options = limited(4);
    options.evict_idle_after_ms = 1000;
    TlsService service(options, fixed_answer(kAnswer));
    service.start();
    constexpr int clients = 24;
    constexpr int rounds = 4;
    std::mutex mutex;
    std::vector<std::string> failures;
    std::vector<std::jthread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            for (int r = 0; r < rounds; ++r) {
                auto exchange = exchange_later(service.port());
                if (const std::string answer = answer_of(exchange); answer != kAnswer) {
                    const std::lock_guard lock(mutex);
                    failures.push_back(answer);
                }
            }
        });
    }
    threads.clear();
    service.stop();
    EXPECT_TRUE(failures.empty()) << failures.size() << " exchanges failed, the first: " << failures.front();
    EXPECT_EQ(service.answers_sent(), static_cast<std::size_t>(clients * rounds));
}

// The whole-connection deadline ends a connection whatever it does: idle
// from the start, or answered and then kept alive byte by byte.
TEST(ConnectionLimits, EveryConnectionEndsAtItsDeadline)
{
    ServiceOptions options = limited(8);
    options.connection_deadline_ms = 300;
    std::mutex mutex;
    std::vector<std::string> errors;
    options.on_error = [&](std::string_view what) {
        const std::lock_guard lock(mutex);
        errors.emplace_back(what);
    };
    TlsService service(options, fixed_answer(kAnswer));
    service.start();
    const Client idle(service.port());
    Client talkative(service.port());
    ASSERT_EQ(talkative.request(), kAnswer);
    bool reset = false;
    for (int i = 0; i < 200 && !reset; ++i) {  // at most 10 s
        reset = !talkative.send_byte();
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(reset) << "the answered connection kept alive was never closed";
    EXPECT_TRUE(idle.ended_within(10s));
    service.stop();
    const std::lock_guard lock(mutex);
    std::size_t limit_reached = 0;
    for (const std::string &error : errors) {
        limit_reached += error.find("time limit (300 ms) was reached") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(limit_reached, 2U);
}

}  // namespace
}  // namespace dvkc::sample
