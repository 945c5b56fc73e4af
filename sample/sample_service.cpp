#include "sample_service.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include "tls_service.h"

namespace dvkc::sample {

std::string utc_timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(millis));
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
    service.on_error = [state](std::string_view what) { state->log("-", "connection ended: " + std::string(what)); };
    state->service = std::make_unique<TlsService>(
        std::move(service), [state](const ServiceRequest &request) {
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
