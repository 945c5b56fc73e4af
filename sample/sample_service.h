// The sample service behind `dvkc serve` and `dvkc demo`: an HTTPS service on
// a loopback address that answers queries the way the library expects.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "answer.h"
#include "tls_identity.h"

namespace dvkc::sample {

class TlsService;

struct SampleServiceOptions {
    TlsIdentity identity;  // chain (leaf first) and key
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;               // 0: an ephemeral port
    CodeTable codes;                      // SN -> Code; others by default_code()
    std::optional<std::int32_t> error;    // answer every query with this ErrID
    int idle_timeout_ms = 30'000;         // a connection silent this long is closed
    int connection_deadline_ms = 30'000;  // a connection is closed this long after it was accepted
    int evict_idle_after_ms = 1000;       // with every worker taken, the longest idle is closed after this
    int max_tls_version = 0;              // e.g. TLS1_1_VERSION (then at security level 0); 0: OpenSSL's default
    // One line per request (and per connection that failed before one);
    // called from the service's threads, one call at a time.
    std::function<void(std::string_view line)> log;
};

class SampleService {
public:
    // Loads the identity and binds; throws std::runtime_error on failure.
    explicit SampleService(SampleServiceOptions options);
    SampleService(const SampleService &) = delete;
    SampleService &operator=(const SampleService &) = delete;
    ~SampleService();

    void start();
    void stop();  // idempotent
    std::uint16_t port() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// "2026-12-08T16:28:42.123Z"
std::string utc_timestamp();

}  // namespace dvkc::sample
