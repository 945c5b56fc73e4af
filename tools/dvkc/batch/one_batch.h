// One batch from records to codes: build, sign, wrap, send, parse, with
// its retries. Shared by every subcommand that sends a query.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch/batch_outcome.h"
#include "batch/batch_settings.h"
#include "batch/batches.h"
#include "batch/exchange_helper.h"
#include "batch/signature.h"
#include "common/csv.h"

namespace dvkc::tool {

// The nonces this run has sent in the current second: none goes out twice.
// The library's nonce follows from the second and the seed modifier's factor,
// so only nonces of one second can meet; the book forgets the others.
class NonceBook {
public:
    // False when `nonce`, made in `second`, was claimed before, or when
    // `second` is one the book has already left (a document built just
    // before the clock turned, to be built again). A clock set back more than
    // a second starts the book afresh.
    bool claim(std::time_t second, std::string_view nonce);
    // Nonces kept now.
    std::size_t size();

private:
    std::mutex mutex_;
    std::time_t second_ = 0;
    std::unordered_set<std::string> used_;
};

// The library seeds the nonce with the time times (modifier % 1000 + 1): a
// modifier whose remainder is -1 makes the nonce independent of the time.
bool zero_factor(std::int32_t modifier) noexcept;
// `modifier`, or the one after it when its factor is 0.
std::int32_t usable_seed(std::int32_t modifier) noexcept;
// `seed` + `step`, wrapping around.
std::int32_t add_seed(std::int32_t seed, std::uint32_t step) noexcept;
// True when `fd` (a cancel descriptor; -1: none) is readable now.
bool readable_now(int fd);

// What every batch of a run shares.
struct BatchJob {
    const BatchSettings &settings;
    const SignatureSource &signer;
    NonceBook &nonces;
    int cancel_fd = -1;                // readable: stop now
    std::int32_t retry_seed_step = 1;  // added to the seed for each retry
    // Told before each retry: the batch, how its last attempt ended, the pause.
    std::function<void(std::size_t, const BatchOutcome &, std::chrono::seconds)> on_retry;
};

// One batch: its number (from 0), its records' place, its seed modifier.
struct BatchTask {
    std::size_t index = 0;
    BatchRange range;
    std::int32_t seed = 0;
};

// Runs one batch: build, sign, wrap, send (through the worker's `helper`),
// parse, retrying a broken or timed-out exchange as the options say. Never
// throws for a failure of the library or the signature; those end up in the
// outcome.
BatchOutcome run_batch(const BatchJob &job, ExchangeHelper &helper, const std::vector<InputRecord> &records,
                       const BatchTask &task);

}  // namespace dvkc::tool
