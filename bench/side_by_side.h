// Peers measured side by side: every iteration of a benchmark runs each peer
// once in turn (a batch of calls each), so a change in the machine's load
// falls on all of them alike and their ratios stay meaningful.
//
// Each peer's samples give three counters: "<peer> med" and "<peer> p90",
// the median and the 90th percentile of the elapsed time per call, and
// "<peer> cpu", the median CPU time per call of this process and of the
// children it waited for (a program a peer runs), which a busy machine
// disturbs far less; each divided by `units` (records for the parse and
// build benchmarks; 1000 for the exchange, whose figures are in
// microseconds), in nanoseconds.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace dvkc::bench {

struct Peer {
    std::string name;
    std::function<bool()> call;  // one call; false when it failed
};

// Runs the peers in turn, `batch` calls each per iteration.
void run_side_by_side(benchmark::State &state, const std::vector<Peer> &peers, int batch, double units);

// `full` seconds, or a few hundredths with DVKC_BENCH_QUICK set (a smoke pass).
double bench_seconds(double full);

// The peak resident set size of this process so far, in kilobytes.
long peak_rss_kb();

}  // namespace dvkc::bench
