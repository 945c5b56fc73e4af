#include "sample_service.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>

#include "tls_service.h"

namespace dvkc::sample {

std::string utc_timestamp()
{
    // The calendar of <chrono>: the same on every platform, no gmtime_r.
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char out[48];
    std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return out;
}

struct SampleService::State {
    SampleServiceOptions options;
    std::mutex log_mutex;
    std::unique_ptr<TlsService> service;

    void log(std::string_view peer, std::string_view what)
    {
        if (!options.log) {
            return;
        }
        const std::string line = utc_timestamp() + " " + std::string(peer) + " " + std::string(what);
        const std::lock_guard lock(log_mutex);
        options.log(line);
    }
};

SampleService::SampleService(SampleServiceOptions options) : state_(std::make_unique<State>())
{
    state_->options = std::move(options);
    State *state = state_.get();
    ServiceOptions service;
    service.identity = state->options.identity;
    service.bind_address = state->options.address;
    service.port = state->options.port;
    service.concurrent = true;
    service.record_requests = false;
    service.max_request_bytes = 4U << 20U;
    service.no_delay = true;
    service.idle_timeout_ms = state->options.idle_timeout_ms;
    service.connection_deadline_ms = state->options.connection_deadline_ms;
    service.evict_idle_after_ms = state->options.evict_idle_after_ms;
    service.max_tls_version = state->options.max_tls_version;
    if (service.max_tls_version != 0 && service.max_tls_version < TLS1_2_VERSION) {
        service.security_level = 0;  // where OpenSSL still speaks TLS 1.0 and 1.1
    }
    service.on_error = [state](std::string_view what) { state->log("-", "connection ended: " + std::string(what)); };
    state->service = std::make_unique<TlsService>(std::move(service), [state](const ServiceRequest &request) {
        SampleAnswer answer = answer_request(request.raw, state->options.codes, state->options.error);
        state->log(request.peer, answer.summary);
        return std::move(answer.http);
    });
}

SampleService::~SampleService()
{
    stop();
}

void SampleService::start()
{
    state_->service->start();
}

void SampleService::stop()
{
    state_->service->stop();
}

std::uint16_t SampleService::port() const noexcept
{
    return state_->service->port();
}

}  // namespace dvkc::sample
