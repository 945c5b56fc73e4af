#include "batches.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace dvkc::tool {

std::vector<BatchRange> plan_batches(std::size_t total, std::size_t batch_size)
{
    if (batch_size == 0) {
        throw std::invalid_argument("batch size must be at least 1");
    }
    std::vector<BatchRange> batches;
    batches.reserve((total + batch_size - 1) / batch_size);
    for (std::size_t first = 0; first < total; first += batch_size) {
        batches.push_back({first, std::min(batch_size, total - first)});
    }
    return batches;
}

void run_parallel(std::size_t count, std::size_t jobs, const std::function<void(std::size_t)> &work,
                  const std::function<void(std::size_t)> &done)
{
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::size_t finished = 0;
    std::exception_ptr failure;

    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            std::exception_ptr error;
            try {
                work(i);
            } catch (...) {
                error = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            if (error && !failure) {
                failure = error;
            }
            ++finished;
            if (done) {
                try {
                    done(finished);
                } catch (...) {
                    if (!failure) {
                        failure = std::current_exception();
                    }
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
