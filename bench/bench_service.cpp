#include "bench_service.h"

#include <openssl/ssl.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "answer.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tls_service.h"

namespace dvkc::bench {

namespace {

// The sample service's own answer: one record per record asked.
sample::Handler sample_answer()
{
    return [](const sample::ServiceRequest &request) {
        return sample::answer_request(request.raw, {}, std::nullopt).http;
    };
}

}  // namespace

struct BenchService::State {
    sample::TempDir dir;
    sample::ThrowawayPki pki = sample::make_throwaway_pki(dir.path());
    sample::TlsService tls13{options(0), sample_answer()};
    sample::TlsService tls12{options(TLS1_2_VERSION), sample_answer()};
    ServiceEndpoint endpoint;

    sample::ServiceOptions options(int max_version) const
    {
        sample::ServiceOptions o;
        o.identity = pki.leaf_intermediate;
        o.max_tls_version = max_version;
        o.record_requests = false;
        return o;
    }
};

BenchService::BenchService() : state_(std::make_unique<State>())
{
    state_->tls13.start();
    state_->tls12.start();
    state_->endpoint = {state_->tls13.port(), state_->tls12.port(), state_->pki.trust_root_intermediate};
}

BenchService::~BenchService()
{
    state_->tls13.stop();
    state_->tls12.stop();
}

const ServiceEndpoint &BenchService::endpoint() const noexcept
{
    return state_->endpoint;
}

namespace {

ServiceEndpoint from_environment(std::string_view text)
{
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) {
        throw std::runtime_error("DVKC_BENCH_SERVICE is not PORT13:PORT12:TRUST_FILE");
    }
    ServiceEndpoint endpoint;
    endpoint.port_tls13 = static_cast<std::uint16_t>(std::atoi(std::string(text.substr(0, first)).c_str()));
    endpoint.port_tls12 =
        static_cast<std::uint16_t>(std::atoi(std::string(text.substr(first + 1, second - first - 1)).c_str()));
    endpoint.trust_file = std::string(text.substr(second + 1));
    return endpoint;
}

}  // namespace

const ServiceEndpoint &bench_endpoint()
{
    static const ServiceEndpoint endpoint = [] {
        if (const char *named = std::getenv("DVKC_BENCH_SERVICE"); named != nullptr && *named != '\0') {
            return from_environment(named);
        }
        static BenchService own;
        return own.endpoint();
    }();
    return endpoint;
}

}  // namespace dvkc::bench
