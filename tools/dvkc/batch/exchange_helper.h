// Exchanges run in a helper process (the tool itself, started with
// --exchange-helper), so that a time limit or an interrupt can stop them: the
// library's exchange blocks with no time limit of its own. Each worker keeps
// one helper, fed one exchange after another over its pipes; one stopped by a
// limit is killed, and the next exchange starts a new one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
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

// One worker's helper: started at its first exchange, started again after
// a limit stopped it or it died, killed when this object goes. Use it from
// the thread that made it.
class ExchangeHelper {
public:
    // `program`: the tool's own program; "" runs each exchange in this
    // process, without any limit.
    ExchangeHelper(std::string program, dvkc::Endpoint endpoint);

    // Runs dvkc::exchange(endpoint, envelope) in the helper within `limits`.
    ExchangeOutcome exchange(std::string_view envelope, const RunLimits &limits);

    // The helper's process id, or -1 when none runs.
    pid_t pid() const noexcept { return process_ ? process_->pid() : -1; }

private:
    std::string program_;
    dvkc::Endpoint endpoint_;
    std::optional<ChildProcess> process_;
};

// Why `answer` is not a whole HTTP answer, or "": no status line, headers
// not ended, or a body shorter than its Content-length.
std::string incomplete_answer(std::string_view answer);

// The helper's side: "dvkc --exchange-helper HOST PORT PATH TRUST". Reads
// envelopes from standard input, each as its length in decimal, "\n" and its
// bytes; for each prints the exchange's result, " ", the answer's length,
// "\n" and the raw answer (empty unless the result is 0). Ends with status 0
// at the end of its input, 2 on a malformed request, 1 when it cannot reply.
int exchange_helper_main(int argc, char **argv);

// This program's own path ("" when it cannot be found).
std::string own_program();

}  // namespace dvkc::tool
