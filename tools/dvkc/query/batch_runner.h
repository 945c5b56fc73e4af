// Running all of a query's batches on worker threads, handed to the writers
// in input order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "batch/batch_outcome.h"
#include "batch/batches.h"
#include "batch/one_batch.h"
#include "common/csv.h"
#include "query/query_options.h"
#include "query/record_source.h"

namespace dvkc::tool {

// True when every other batch would fail the same way (no such host,
// nothing listening, the trust file or the service refused, no sign command).
// The run stops on such a failure only while no batch has been answered: one
// seen after an answer is the service's trouble of the moment.
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

    BatchRunner(const BatchJob &job, const QueryOptions &options, RecordSource &source, BatchPlan plan);
    void run(const Print &print, const Finished &finished);

    const Tally &tally() const noexcept { return tally_; }
    // Batches that were under way when the run was interrupted, in order.
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
    const QueryOptions &options_;
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
