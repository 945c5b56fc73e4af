// Running a shell command with a text on its standard input and collecting
// its standard output (its standard error passes through).
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace dvkc::tool {

struct ProcessResult {
    int exit_status = -1;    // the exit status, or -1 when killed by a signal
    int signal = 0;          // the signal that ended it, or 0
    std::string out;         // everything written on its standard output
    std::string err;         // its standard error, when captured
    bool timed_out = false;  // stopped because the time limit passed
    bool cancelled = false;  // stopped because the cancel descriptor became readable
};

// Bounds on a child process. When the time passes, or `cancel_fd` becomes
// readable, the child's whole process group is killed (SIGKILL) and reaped.
struct RunLimits {
    std::chrono::milliseconds timeout{0};  // 0: none
    int cancel_fd = -1;                    // -1: none
};

// Runs argv[0] (searched in PATH) with `input` on its standard input, in a
// process group of its own. Standard error is captured when `capture_err` is
// true, else inherited. Writing stops quietly if the child closes its input
// early; no SIGPIPE reaches this process. Throws std::system_error when the
// process cannot be started. No descriptor and no child is left behind.
ProcessResult run_process(const std::vector<std::string> &argv, std::string_view input, bool capture_err = false,
                          const RunLimits &limits = {});

// Runs `command` through /bin/sh -c.
ProcessResult run_shell(const std::string &command, std::string_view input, bool capture_err = false,
                        const RunLimits &limits = {});

}  // namespace dvkc::tool
