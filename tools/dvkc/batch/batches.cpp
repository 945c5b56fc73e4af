#include "batch/batches.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace dvkc::tool {

BatchPlan::BatchPlan(std::size_t total, std::size_t batch_size) : total_(total), batch_size_(batch_size)
{
    if (batch_size == 0) {
        throw std::invalid_argument("batch size must be at least 1");
    }
    count_ = total / batch_size + (total % batch_size == 0 ? 0 : 1);
}

BatchRange BatchPlan::operator[](std::size_t batch) const noexcept
{
    const std::size_t first = batch * batch_size_;
    return {first, std::min(batch_size_, total_ - first)};
}

void run_parallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)> &work)
{
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;

    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                work(i);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!failure) {
                    failure = std::current_exception();
                }
            }
        }
    };

    const std::size_t threads = std::min(std::max<std::size_t>(jobs, 1), count);
    if (threads <= 1) {
        worker();
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(threads);
        for (std::size_t t = 0; t < threads; ++t) {
            pool.emplace_back(worker);
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace dvkc::tool
