#include "query/batch_runner.h"

#include <algorithm>

namespace dvkc::tool {

bool every_batch_would_fail(const BatchOutcome &outcome) noexcept
{
    if (const auto *broken = std::get_if<BrokenExchange>(&outcome.result); broken != nullptr && broken->error) {
        const std::int32_t code = broken->error->code();
        return code == DVKC_EXCHANGE_TRUST_FILE || code == DVKC_EXCHANGE_RESOLVE || code == DVKC_EXCHANGE_CONNECT ||
               code == DVKC_EXCHANGE_HANDSHAKE;
    }
    if (const auto *failure = std::get_if<SignatureFailure>(&outcome.result)) {
        return failure->why.find("exited with status 127") != std::string::npos ||
               failure->why.find("exited with status 126") != std::string::npos;
    }
    return false;
}

BatchRunner::BatchRunner(const BatchJob &job, const QueryOptions &options, RecordSource &source, BatchPlan plan)
    : job_(job), options_(options), source_(source), plan_(plan), window_(std::max<std::size_t>(options.jobs, 1) * 2)
{
}

void BatchRunner::run(const Print &print, const Finished &finished)
{
    run_parallel(std::min(options_.jobs, plan_.size()), options_.jobs, [&](std::size_t) { work(print, finished); });
    print_rest(print);
    std::sort(stopped_.begin(), stopped_.end());
}

bool BatchRunner::cancelled() const
{
    return readable_now(job_.cancel_fd);
}

// The next batch to start and its records; false when none should start.
bool BatchRunner::take(std::size_t &index, std::vector<InputRecord> &records)
{
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return stop_ || next_start_ >= plan_.size() || next_start_ < next_print_ + window_; });
    if (stop_ || next_start_ >= plan_.size() || cancelled()) {
        stop_ = true;
        room_.notify_all();
        return false;
    }
    index = next_start_++;
    records = source_.next(plan_[index].count);
    return true;
}

void BatchRunner::work(const Print &print, const Finished &finished)
{
    std::size_t index = 0;
    std::vector<InputRecord> records;
    ExchangeHelper helper(job_.settings.helper, job_.settings.endpoint);  // this worker's, for all its batches
    while (take(index, records)) {
        const BatchTask task{index, plan_[index], add_seed(options_.seed, static_cast<std::uint32_t>(index))};
        BatchOutcome outcome = run_batch(job_, helper, records, task);
        finish(index, Done{std::move(outcome), std::move(records)}, print, finished);
    }
}

void BatchRunner::finish(std::size_t index, Done done, const Print &print, const Finished &finished)
{
    const std::lock_guard lock(mutex_);
    tally_.add(done.outcome);
    if (done.outcome.not_sent() && cancelled()) {
        stopped_.push_back(index);
    } else if (!done.outcome.answered() && !done.outcome.not_sent() && !stop_) {
        if (options_.fail_fast) {
            stop_ = true;
            stop_reason_ = "not sent (--fail-fast after an earlier failure)";
        } else if (every_batch_would_fail(done.outcome) && tally_.answered == 0) {
            stop_ = true;
            stop_reason_ = "not sent (every batch would fail as batch " + std::to_string(index + 1) + " did)";
        }
    }
    finished(tally_);
    done_.emplace(index, std::move(done));
    while (!done_.empty() && done_.begin()->first == next_print_) {
        const Done &next = done_.begin()->second;
        if (!print_failed_ && !print(next_print_, next.outcome, next.records)) {
            print_failed_ = true;
            stop_ = true;
        }
        done_.erase(done_.begin());
        ++next_print_;
    }
    room_.notify_all();
}

// What never ran: in order, after whatever ran and is still waiting.
void BatchRunner::print_rest(const Print &print)
{
    for (std::size_t b = next_print_; b < plan_.size(); ++b) {
        auto found = done_.find(b);
        Done done;
        if (found != done_.end()) {
            done = std::move(found->second);
        } else {
            done.outcome.range = plan_[b];
            done.outcome.result = NotSent{cancelled()            ? "interrupted"
                                          : stop_reason_.empty() ? "not sent"
                                                                 : stop_reason_,
                                          std::nullopt};
            tally_.add(done.outcome);
            if (!print_failed_) {
                done.records = source_.next(plan_[b].count);
            }
        }
        if (!print_failed_ && !print(b, done.outcome, done.records)) {
            print_failed_ = true;
        }
    }
    done_.clear();
    next_print_ = plan_.size();
}

}  // namespace dvkc::tool
