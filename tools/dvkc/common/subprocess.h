// Running a shell command with a text on its standard input and collecting
// its standard output (its standard error passes through), and keeping a
// child process running to answer one request after another.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
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
    bool replied = false;    // a whole reply came; the child runs on (ChildProcess)
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

// A child process that answers one request after another: each written to
// its standard input, each reply read from its standard output. It runs in a
// process group of its own, with its standard error captured; the group is
// killed (SIGKILL) and the child reaped when a limit stops a request, and
// when the object is destroyed. Start and use it from one thread: the
// tool's helpers end with the thread that started them.
class ChildProcess {
public:
    // How many bytes of what came make one whole reply: 0 while it is not
    // whole yet, std::string_view::npos when it can never be one.
    using ReplyLength = std::function<std::size_t(std::string_view)>;

    // Starts argv[0] (searched in PATH). Throws std::system_error when it
    // cannot be started.
    explicit ChildProcess(const std::vector<std::string> &argv);
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Writes `request`, then reads until `reply_length` finds a whole reply
    // (`replied`; `out` holds it, or, for npos, what came), the child ends
    // (its exit status or signal, what it wrote on `err`), or `limits` stop
    // it (`timed_out` or `cancelled`; it is killed). Throws std::system_error
    // on a failed poll, the child killed then.
    ProcessResult converse(std::string_view request, const ReplyLength &reply_length, const RunLimits &limits);

    // False once the child has ended or was stopped (it is reaped then).
    bool running();
    // Kills the child's group and reaps the child (nothing when it is gone).
    void stop() noexcept;
    // The child's process id, or -1 once it is gone.
    pid_t pid() const noexcept { return pid_; }

private:
    struct Pipes;  // our ends of its standard input, output and error
    std::unique_ptr<Pipes> pipes_;
    pid_t pid_ = -1;
};

}  // namespace dvkc::tool
