#include "batch/one_batch.h"

#include <poll.h>

#include <algorithm>

namespace dvkc::tool {
namespace {

constexpr std::chrono::seconds first_back_off{1};
constexpr std::chrono::seconds longest_back_off{30};
constexpr unsigned factors_per_second = 1000;

// Waits `pause`, or less when `cancel_fd` becomes readable; false then.
bool pause_unless_cancelled(std::chrono::milliseconds pause, int cancel_fd)
{
    pollfd watched{cancel_fd, POLLIN, 0};
    return ::poll(&watched, cancel_fd >= 0 ? 1 : 0, static_cast<int>(pause.count())) <= 0;
}

// Builds the document with `seed`, or with the seeds after it until the
// nonce is one this run has not sent. Past all factors within one second,
// waits for the next second. A document built across the turn of a second
// (its nonce's second unknown) is built again.
dvkc::Buffer build_unique(const BatchJob &job, dvkc::Query &query, std::int32_t seed)
{
    for (unsigned tries = 1;; ++tries) {
        seed = usable_seed(seed);
        const std::time_t before = std::time(nullptr);
        dvkc::Buffer document = query.build(seed, job.settings.identity_file);
        const std::time_t after = std::time(nullptr);
        if (before == after && job.nonces.claim(after, query.nonce())) {
            return document;
        }
        seed = before == after ? add_seed(seed, 1) : seed;
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

BatchResult exchange(const BatchJob &job, ExchangeHelper &helper, dvkc::Query &query, std::string_view envelope)
{
    const RunLimits limits{std::chrono::seconds(job.settings.timeout), job.cancel_fd};
    ExchangeOutcome exchanged = helper.exchange(envelope, limits);
    switch (exchanged.kind) {
    case ExchangeOutcome::Kind::answered:
        return parse_answer(query, std::move(exchanged.answer));
    case ExchangeOutcome::Kind::failed:
        return BrokenExchange{dvkc::Error(dvkc::Call::exchange, exchanged.code), {}, std::nullopt};
    case ExchangeOutcome::Kind::timed_out:
        return TimedOut{std::chrono::seconds(job.settings.timeout)};
    case ExchangeOutcome::Kind::cancelled:
        return NotSent{"interrupted", std::nullopt};
    case ExchangeOutcome::Kind::broken:
        break;
    }
    return BrokenExchange{std::nullopt, std::move(exchanged.why), std::nullopt};
}

// One attempt: build, sign, wrap, send, parse.
BatchResult attempt(const BatchJob &job, ExchangeHelper &helper, dvkc::Query &query, std::int32_t seed)
{
    try {
        const dvkc::Buffer document = build_unique(job, query, seed);
        const std::string signature = job.signer.sign(document.view(), job.cancel_fd);
        const dvkc::Buffer envelope = dvkc::make_envelope(document.view(), signature);
        return exchange(job, helper, query, envelope.view());
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

bool NonceBook::claim(std::time_t second, std::string_view nonce)
{
    const std::lock_guard lock(mutex_);
    if (second > second_ || second + 1 < second_) {
        used_.clear();
        second_ = second;
    } else if (second < second_) {
        return false;
    }
    return used_.emplace(nonce).second;
}

std::size_t NonceBook::size()
{
    const std::lock_guard lock(mutex_);
    return used_.size();
}

std::int32_t add_seed(std::int32_t seed, std::uint32_t step) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) + step);
}

bool readable_now(int fd)
{
    if (fd < 0) {
        return false;
    }
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

bool zero_factor(std::int32_t modifier) noexcept
{
    return modifier % 1000 == -1;
}

std::int32_t usable_seed(std::int32_t modifier) noexcept
{
    return zero_factor(modifier) ? add_seed(modifier, 1) : modifier;
}

BatchOutcome run_batch(const BatchJob &job, ExchangeHelper &helper, const std::vector<InputRecord> &records,
                       const BatchTask &task)
{
    BatchOutcome outcome;
    outcome.range = task.range;
    outcome.service = job.settings.endpoint.host + ":" + std::to_string(job.settings.endpoint.port);
    dvkc::Query query;
    for (const InputRecord &record : records) {
        query.add(record.sn, record.ssid);
    }
    std::chrono::seconds back_off = first_back_off;
    for (unsigned retry = 0;; ++retry) {
        // A retry is a new document: another seed, so another nonce.
        ++outcome.attempts;
        outcome.result =
            attempt(job, helper, query, add_seed(task.seed, retry * static_cast<std::uint32_t>(job.retry_seed_step)));
        if (!outcome.retryable() || retry >= job.settings.retry || readable_now(job.cancel_fd)) {
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

}  // namespace dvkc::tool
