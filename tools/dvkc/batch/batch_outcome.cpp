#include "batch/batch_outcome.h"

#include "cli/exit_status.h"

namespace dvkc::tool {

std::optional<std::int32_t> BatchOutcome::code(std::size_t k) const
{
    const auto *answered = std::get_if<Answered>(&result);
    if (answered == nullptr || k >= answered->codes.size()) {
        return std::nullopt;
    }
    return answered->codes[k];
}

std::string BatchOutcome::failure() const
{
    const std::string at = service.empty() ? std::string() : " (service " + service + ")";
    const std::string exchange = std::string(dvkc::call_name(dvkc::Call::exchange)) + ": ";
    return std::visit(
        Overloaded{
            [](const Answered &) { return std::string(); },
            [](const NotSent &r) { return r.error ? std::string(r.error->what()) : r.why; },
            [](const ServiceError &r) { return std::string(r.error.what()); },
            [](const RefusedAnswer &r) { return std::string(r.error.what()); },
            [&](const BrokenExchange &r) { return (r.error ? std::string(r.error->what()) : exchange + r.why) + at; },
            [&](const TimedOut &r) {
                return exchange + "timed out after " + std::to_string(r.after.count()) + " s" + at;
            },
            [](const SignatureFailure &r) { return r.why; },
        },
        result);
}

std::string BatchOutcome::failure_kind() const
{
    return std::visit(
        Overloaded{
            [](const Answered &) { return std::string(); },
            [](const NotSent &r) { return r.error ? std::to_string(r.error->code()) : std::string(); },
            [](const ServiceError &r) { return "ErrID " + std::to_string(r.error.err_id()); },
            [](const RefusedAnswer &r) { return std::to_string(r.error.code()); },
            [](const BrokenExchange &r) { return r.error ? std::to_string(r.error->code()) : std::string("broken"); },
            [](const TimedOut &) { return std::string("timeout"); },
            [](const SignatureFailure &) { return std::string("signature"); },
        },
        result);
}

const std::string *BatchOutcome::answer() const noexcept
{
    if (const auto *refused = std::get_if<RefusedAnswer>(&result)) {
        return &refused->answer;
    }
    if (const auto *broken = std::get_if<BrokenExchange>(&result); broken != nullptr && broken->answer) {
        return &*broken->answer;
    }
    return nullptr;
}

void Tally::add(const BatchOutcome &outcome)
{
    ++total;
    if (outcome.answered()) {
        ++answered;
    } else if (outcome.not_sent()) {
        ++not_sent;
    } else {
        ++failed;
        ++kinds[outcome.failure_kind()];
    }
}

int Tally::status(int signal) const noexcept
{
    if (signal != 0) {
        return 128 + signal;
    }
    if (answered == total) {
        return exit_ok;
    }
    return answered == 0 ? exit_failed : exit_partial;
}

std::string Tally::summary() const
{
    std::string text = std::to_string(total) + " batches: " + std::to_string(answered) + " answered, " +
                       std::to_string(failed) + " failed";
    if (!kinds.empty()) {
        text += " (";
        bool first = true;
        for (const auto &[kind, count] : kinds) {
            text += (first ? "" : ", ") + kind + " x" + std::to_string(count);
            first = false;
        }
        text += ")";
    }
    if (not_sent > 0) {
        text += ", " + std::to_string(not_sent) + " not sent";
    }
    return text;
}

}  // namespace dvkc::tool
