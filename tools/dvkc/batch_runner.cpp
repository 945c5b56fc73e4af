#include "batch_runner.h"

#include <poll.h>

#include <algorithm>

#include "exchange_helper.h"

namespace dvkc::tool {
namespace {

constexpr std::chrono::seconds first_back_off{1};
constexpr std::chrono::seconds longest_back_off{30};
constexpr unsigned factors_per_second = 1000;

bool readable_now(int fd)
{
    if (fd < 0) {
        return false;
    }
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

// Waits `pause`, or less when `cancel_fd` becomes readable; false then.
bool pause_unless_cancelled(std::chrono::milliseconds pause, int cancel_fd)
{
    pollfd watched{cancel_fd, POLLIN, 0};
    return ::poll(&watched, cancel_fd >= 0 ? 1 : 0, static_cast<int>(pause.count())) <= 0;
}

std::int32_t add_seed(std::int32_t seed, std::uint32_t step) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) + step);
}

// Builds the document with `seed`, or with the seeds after it until the
// nonce is one this run has not sent. Past all factors within one second,
// waits for the next second.
dvkc::Buffer build_unique(const BatchJob &job, dvkc::Query &query, std::int32_t seed)
{
    for (unsigned tries = 1;; ++tries) {
        seed = usable_seed(seed);
        dvkc::Buffer document = query.build(seed, job.options.identity_file);
        if (job.nonces.claim(query.nonce())) {
            return document;
        }
        seed = add_seed(seed, 1);
        if (tries % factors_per_second == 0) {
            pause_unless_cancelled(std::chrono::seconds(1), job.cancel_fd);
        }
    }
}

// The parsed answer: the codes, a service error or a refusal.
BatchResult parse_answer(dvkc::Query &query, std::string answer)
{
    if (std::string why = incomplete_answer(answer); !why.empty()) {
        return BrokenExchange{std::nullopt, std::move(why), std::move(answer)};
    }
    try {
        query.parse(answer);
    } catch (const dvkc::Error &e) {
        if (e.code() == DVKC_PARSE_SERVICE_ERROR) {
            return ServiceError{e};
        }
        return RefusedAnswer{e, std::move(answer)};
    }
    Answered answered;
    answered.codes.reserve(query.size());
    for (std::size_t i = 0; i < query.size(); ++i) {
        answered.codes.push_back(query.code(i));
    }
    return answered;
}

BatchResult exchange(const BatchJob &job, dvkc::Query &query, std::string_view envelope)
{
    const RunLimits limits{std::chrono::seconds(job.options.timeout), job.cancel_fd};
    ExchangeOutcome exchanged = exchange_in_helper(job.options.helper, job.options.endpoint, envelope, limits);
    switch (exchanged.kind) {
    case ExchangeOutcome::Kind::answered:
        return parse_answer(query, std::move(exchanged.answer));
    case ExchangeOutcome::Kind::failed:
        return BrokenExchange{dvkc::Error(dvkc::Call::exchange, exchanged.code), {}, std::nullopt};
    case ExchangeOutcome::Kind::timed_out:
        return TimedOut{std::chrono::seconds(job.options.timeout)};
    case ExchangeOutcome::Kind::cancelled:
        return NotSent{"interrupted", std::nullopt};
    case ExchangeOutcome::Kind::broken:
        break;
    }
    return BrokenExchange{std::nullopt, std::move(exchanged.why), std::nullopt};
}

// One attempt: build, sign, wrap, send, parse.
BatchResult attempt(const BatchJob &job, dvkc::Query &query, std::int32_t seed)
{
    try {
        const dvkc::Buffer document = build_unique(job, query, seed);
        const std::string signature = job.signer.sign(document.view(), job.cancel_fd);
        const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
        return exchange(job, query, envelope.view());
    } catch (const dvkc::Error &e) {
        return NotSent{"not built", e};
    } catch (const SignatureError &e) {
        if (readable_now(job.cancel_fd)) {
            return NotSent{"interrupted", std::nullopt};
        }
        return SignatureFailure{e.what()};
    }
}

}  // namespace

bool NonceBook::claim(std::string_view nonce)
{
    const std::lock_guard lock(mutex_);
    return used_.emplace(nonce).second;
}

bool zero_factor(std::int32_t modifier) noexcept
{
    return modifier % 1000 == -1;
}

std::int32_t usable_seed(std::int32_t modifier) noexcept
{
    return zero_factor(modifier) ? add_seed(modifier, 1) : modifier;
}

BatchOutcome run_batch(const BatchJob &job, const std::vector<InputRecord> &records, const BatchTask &task)
{
    BatchOutcome outcome;
    outcome.range = task.range;
    outcome.service = job.options.endpoint.host + ":" + std::to_string(job.options.endpoint.port);
    dvkc::Query query;
    for (const InputRecord &record : records) {
        query.add(record.sn, record.ssid);
    }
    std::chrono::seconds back_off = first_back_off;
    for (unsigned retry = 0;; ++retry) {
        // A retry is a new document: another seed, so another nonce.
        ++outcome.attempts;
        outcome.result =
            attempt(job, query, add_seed(task.seed, retry * static_cast<std::uint32_t>(job.retry_seed_step)));
        if (!outcome.retryable() || retry >= job.options.retry || readable_now(job.cancel_fd)) {
            break;
        }
        if (job.on_retry) {
            job.on_retry(task.index, outcome, back_off);
        }
        if (!pause_unless_cancelled(back_off, job.cancel_fd)) {
            break;
        }
        back_off = std::min(back_off * 2, longest_back_off);
    }
    if (readable_now(job.cancel_fd) && !outcome.answered()) {
        outcome.result = NotSent{"interrupted", std::nullopt};
    }
    return outcome;
}

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

BatchRunner::BatchRunner(const BatchJob &job, RecordSource &source, BatchPlan plan)
    : job_(job), source_(source), plan_(plan), window_(std::max<std::size_t>(job.options.jobs, 1) * 2)
{
}

void BatchRunner::run(const Print &print, const Finished &finished)
{
    run_parallel(std::min(job_.options.jobs, plan_.size()), job_.options.jobs,
                 [&](std::size_t) { work(print, finished); });
    print_rest(print);
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
    while (take(index, records)) {
        const BatchTask task{index, plan_[index], add_seed(job_.options.seed, static_cast<std::uint32_t>(index))};
        BatchOutcome outcome = run_batch(job_, records, task);
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
        if (job_.options.fail_fast) {
            stop_ = true;
            stop_reason_ = "not sent (--fail-fast after an earlier failure)";
        } else if (every_batch_would_fail(done.outcome)) {
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
