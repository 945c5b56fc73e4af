// Splitting a query's records into batches and running batches on threads.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace dvkc::tool {

// Records [first, first + count) of the input.
struct BatchRange {
    std::size_t first = 0;
    std::size_t count = 0;
};

// Consecutive ranges of at most `batch_size` records covering `total`
// records in order; no range is empty. `batch_size` must be at least 1.
std::vector<BatchRange> plan_batches(std::size_t total, std::size_t batch_size);

// Runs work(i) for every i in [0, count) on up to `jobs` threads (at least
// one; never more threads than items). Items are started in rising order.
// After each item finishes, done(finished_so_far) is called, serialised.
// Every item runs even if others throw; the first exception is rethrown after
// all threads have stopped.
void run_parallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)> &work,
                  const std::function<void(std::size_t)> &done = {});

}  // namespace dvkc::tool
