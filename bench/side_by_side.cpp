#include "side_by_side.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>

namespace dvkc::bench {
namespace {

double quantile(std::vector<double> samples, double q)
{
    if (samples.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(at), samples.end());
    return samples[at];
}

// CPU time of this process (every thread) and of the children it has
// waited for (a peer that runs a program), in nanoseconds.
double process_cpu_ns()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const auto microseconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec) +
           (microseconds(children.ru_utime) + microseconds(children.ru_stime)) * 1e3;
}

}  // namespace

void run_side_by_side(benchmark::State &state, const std::vector<Peer> &peers, int batch, double units)
{
    using Clock = std::chrono::steady_clock;
    std::vector<std::vector<double>> samples(peers.size());
    std::vector<std::vector<double>> cpu_samples(peers.size());
    for (auto _ : state) {
        for (std::size_t p = 0; p < peers.size(); ++p) {
            const double cpu_start = process_cpu_ns();
            const Clock::time_point start = Clock::now();
            for (int i = 0; i < batch; ++i) {
                if (!peers[p].call()) {
                    state.SkipWithError((peers[p].name + " failed").c_str());
                    return;
                }
            }
            const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
            samples[p].push_back(spent.count() / batch / units);
            cpu_samples[p].push_back((process_cpu_ns() - cpu_start) / batch / units);
        }
    }
    for (std::size_t p = 0; p < peers.size(); ++p) {
        state.counters[peers[p].name + " med"] = quantile(samples[p], 0.5);
        state.counters[peers[p].name + " p90"] = quantile(samples[p], 0.9);
        state.counters[peers[p].name + " cpu"] = quantile(cpu_samples[p], 0.5);
    }
}

double bench_seconds(double full)
{
    const char *quick = std::getenv("DVKC_BENCH_QUICK");
    return quick != nullptr && *quick != '\0' ? 0.02 : full;
}

long peak_rss_kb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace dvkc::bench
