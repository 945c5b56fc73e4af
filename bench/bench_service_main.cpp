// dvkc_bench_service: the benchmarks' service as a process of its own.
// Prints "PORT13:PORT12:TRUST_FILE" and serves until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <exception>

#include "bench_service.h"

int main()
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // the service's threads inherit the mask
    try {
        dvkc::bench::BenchService service;
        const dvkc::bench::ServiceEndpoint &at = service.endpoint();
        std::printf("%u:%u:%s\n", at.port_tls13, at.port_tls12, at.trust_file.c_str());
        std::fflush(stdout);
        sigdelset(&stop, SIGPIPE);
        int received = 0;
        while (sigwait(&stop, &received) != 0) {
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dvkc_bench_service: %s\n", e.what());
        return 1;
    }
    return 0;
}
