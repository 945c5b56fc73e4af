// Each exchange runs in a helper process (the tool itself, started with
// --exchange-helper), so that a time limit or an interrupt can stop it: the
// library's exchange blocks with no time limit of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/subprocess.h"
#include "dvkc.hpp"

namespace dvkc::tool {

// The argument that makes the tool an exchange helper (never shown in help).
inline constexpr std::string_view exchange_helper_flag = "--exchange-helper";

struct ExchangeOutcome {
    enum class Kind {
        answered,   // `answer` holds the raw answer
        failed,     // the library's exchange returned `code`
        timed_out,  // stopped at the time limit
        cancelled,  // stopped by the cancel descriptor
        broken,     // the helper itself failed; `why` says how
    } kind = Kind::broken;
    std::string answer;
    std::int32_t code = 0;
    std::string why;
};

// Runs dvkc::exchange(endpoint, envelope) in `helper` (the tool's own
// program) within `limits`. With an empty `helper` the exchange runs in this
// process, without any limit.
ExchangeOutcome exchange_in_helper(const std::string &helper, const dvkc::Endpoint &endpoint, std::string_view envelope,
                                   const RunLimits &limits);

// Why `answer` is not a whole HTTP answer, or "": no status line, headers
// not ended, or a body shorter than its Content-length.
std::string incomplete_answer(std::string_view answer);

// The helper's side: "dvkc --exchange-helper HOST PORT PATH TRUST", the
// envelope on standard input; prints "0\n" and the raw answer, or the
// exchange's result and "\n". Returns the exit status.
int exchange_helper_main(int argc, char **argv);

// This program's own path ("" when it cannot be found).
std::string own_program();

}  // namespace dvkc::tool
