// Running a query's batches: one batch with its retries, and all of them on
// worker threads, handed to the writers in input order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch_outcome.h"
#include "batches.h"
#include "csv.h"
#include "query_options.h"
#include "record_source.h"
#include "signature.h"

namespace dvkc::tool {

// The nonces this run has sent: none goes out twice.
class NonceBook {
public:
    // False when `nonce` was claimed before.
    bool claim(std::string_view nonce);

private:
    std::mutex mutex_;
    std::unordered_set<std::string> used_;
};

// The library seeds the nonce with the time times (modifier % 1000 + 1): a
// modifier whose remainder is -1 makes the nonce independent of the time.
bool zero_factor(std::int32_t modifier) noexcept;
// `modifier`, or the one after it when its factor is 0.
std::int32_t usable_seed(std::int32_t modifier) noexcept;

// What every batch of a run shares.
struct BatchJob {
    const QueryOptions &options;
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

// Runs one batch: build, sign, wrap, send, parse, retrying a broken or
// timed-out exchange as the options say. Never throws for a failure of the
// library or the signature; those end up in the outcome.
BatchOutcome run_batch(const BatchJob &job, const std::vector<InputRecord> &records, const BatchTask &task);

// True when every other batch would fail the same way (no such host,
// nothing listening, the trust file or the service refused, no sign command).
bool every_batch_would_fail(const BatchOutcome &outcome) noexcept;

// Runs every batch of `plan` on --jobs threads, reading each batch's records
// from `source` when it starts. At most twice --jobs batches are started
// beyond the last one printed, so memory stays bounded.
class BatchRunner {
public:
    // print(index, outcome, records): in input order, one call at a time;
    // false stops the run (the output cannot be written).
    using Print = std::function<bool(std::size_t, const BatchOutcome &, const std::vector<InputRecord> &)>;
    // After each batch, from the worker that ran it.
    using Finished = std::function<void(const Tally &)>;

    BatchRunner(const BatchJob &job, RecordSource &source, BatchPlan plan);
    void run(const Print &print, const Finished &finished);

    const Tally &tally() const noexcept { return tally_; }
    // Batches that were under way when the run was interrupted.
    const std::vector<std::size_t> &stopped_in_flight() const noexcept { return stopped_; }
    // Why the batches never sent were left ("" when nothing was left).
    const std::string &stop_reason() const noexcept { return stop_reason_; }

private:
    struct Done {
        BatchOutcome outcome;
        std::vector<InputRecord> records;
    };
    void work(const Print &print, const Finished &finished);
    bool take(std::size_t &index, std::vector<InputRecord> &records);
    void finish(std::size_t index, Done done, const Print &print, const Finished &finished);
    void print_rest(const Print &print);
    bool cancelled() const;

    const BatchJob &job_;
    RecordSource &source_;
    BatchPlan plan_;
    std::size_t window_;

    std::mutex mutex_;
    std::condition_variable room_;
    std::size_t next_start_ = 0;
    std::size_t next_print_ = 0;
    bool stop_ = false;
    bool print_failed_ = false;
    std::string stop_reason_;
    std::map<std::size_t, Done> done_;
    std::vector<std::size_t> stopped_;
    Tally tally_;
};

}  // namespace dvkc::tool
