// Splitting a query's records into batches and running batches on threads.
#pragma once

#include <cstddef>
#include <functional>

namespace dvkc::tool {

// Records [first, first + count) of the input.
struct BatchRange {
    std::size_t first = 0;
    std::size_t count = 0;
};

// Consecutive ranges of at most `batch_size` records covering `total`
// records in order; no range is empty. Throws std::invalid_argument for a
// batch size of 0.
class BatchPlan {
public:
    BatchPlan(std::size_t total, std::size_t batch_size);
    std::size_t size() const noexcept { return count_; }
    BatchRange operator[](std::size_t batch) const noexcept;

private:
    std::size_t total_;
    std::size_t batch_size_;
    std::size_t count_;
};

// Runs work(i) for every i in [0, count) on up to `jobs` threads (at least
// one; never more threads than items). Items are started in rising order.
// Every item runs even if others throw; the first exception is rethrown after
// all threads have stopped.
void run_parallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)> &work);

}  // namespace dvkc::tool
