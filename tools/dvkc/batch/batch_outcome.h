// How one batch of a query ended: one of seven kinds, each with what the
// writers, the summary and the exit status need to know of it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "batch/batches.h"
#include "dvkc.hpp"

namespace dvkc::tool {

// std::visit with one lambda per kind.
template <typename... Fns>
struct Overloaded : Fns... {
    using Fns::operator()...;
};
template <typename... Fns>
Overloaded(Fns...) -> Overloaded<Fns...>;

// The service answered and the answer was accepted: one code per record.
struct Answered {
    std::vector<std::int32_t> codes;
};

// The answer was a service error (the parser's ErrID).
struct ServiceError {
    dvkc::Error error;
};

// The answer came whole but the parser refused it; `answer` is kept for -v.
struct RefusedAnswer {
    dvkc::Error error;
    std::string answer;
};

// The exchange did not end with a whole answer: the library's exchange
// failed (`error`), or the connection was dropped, the answer cut short or
// the helper failed (`why`; `answer` holds what came, if anything).
struct BrokenExchange {
    std::optional<dvkc::Error> error;
    std::string why;
    std::optional<std::string> answer;
};

// The exchange took longer than --timeout.
struct TimedOut {
    std::chrono::seconds after{0};
};

// No signature could be had for the document.
struct SignatureFailure {
    std::string why;
};

// Never sent: stopped before it ended ("interrupted"), left unsent, or its
// document could not be built (`error`, which counts as a failure).
struct NotSent {
    std::string why;
    std::optional<dvkc::Error> error;
};

using BatchResult =
    std::variant<NotSent, Answered, ServiceError, RefusedAnswer, BrokenExchange, TimedOut, SignatureFailure>;

struct BatchOutcome {
    BatchRange range;
    BatchResult result = NotSent{"not sent", std::nullopt};
    unsigned attempts = 0;  // exchanges tried
    std::string service;    // "host:port" once an exchange was tried

    bool answered() const noexcept { return std::holds_alternative<Answered>(result); }
    bool not_sent() const noexcept
    {
        const auto *left = std::get_if<NotSent>(&result);
        return left != nullptr && !left->error;
    }
    // A failure worth retrying: the exchange broke or timed out.
    bool retryable() const noexcept
    {
        return std::holds_alternative<BrokenExchange>(result) || std::holds_alternative<TimedOut>(result);
    }
    // The code of record k, when answered.
    std::optional<std::int32_t> code(std::size_t k) const;
    // "iSSL_SendThenRecv -12: the TLS handshake failed (...) (service h:p)"
    std::string failure() const;
    // What the summary counts it as: the result ("-9"), "ErrID 7", "timeout",
    // "signature", "broken"; empty when answered or not sent.
    std::string failure_kind() const;
    // The raw answer that could not be used, if any.
    const std::string *answer() const noexcept;
};

// Counts batches as they end, for the summary and the exit status.
struct Tally {
    std::size_t total = 0;
    std::size_t answered = 0;
    std::size_t failed = 0;
    std::size_t not_sent = 0;
    std::map<std::string, std::size_t> kinds;  // failure_kind() -> batches

    void add(const BatchOutcome &outcome);
    // 0 when every batch was answered, 4 when none, else 5; 128 + `signal`
    // when a signal stopped the run.
    int status(int signal = 0) const noexcept;
    // "1000 batches: 998 answered, 2 failed (-9 x2)"
    std::string summary() const;
};

}  // namespace dvkc::tool
