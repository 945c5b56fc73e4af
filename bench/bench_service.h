// The service the exchange benchmarks talk to: the test service on
// 127.0.0.1 presenting a leaf and its intermediate, answering every query
// as the sample service does (one record per record asked), once allowing TLS 1.3
// and once capped at TLS 1.2.
//
// bench/run starts it as a process of its own (dvkc_bench_service) and hands
// its ports and trust file to dvkc_bench in DVKC_BENCH_SERVICE
// ("PORT13:PORT12:TRUST_FILE"); without that variable dvkc_bench starts the
// same service on threads of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace dvkc::bench {

struct ServiceEndpoint {
    std::uint16_t port_tls13 = 0;
    std::uint16_t port_tls12 = 0;
    std::string trust_file;  // root and intermediate
};

class BenchService {
public:
    BenchService();  // makes a throwaway PKI and starts both services; throws on failure
    BenchService(const BenchService &) = delete;
    BenchService &operator=(const BenchService &) = delete;
    ~BenchService();

    const ServiceEndpoint &endpoint() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The endpoint named in DVKC_BENCH_SERVICE, else one started in this process.
const ServiceEndpoint &bench_endpoint();

}  // namespace dvkc::bench
