// SIGPIPE and SIGXFSZ blocked for a whole run: a write to a closed pipe then
// fails with EPIPE, and one past the file-size limit (ulimit -f) with EFBIG,
// each handled as any other failed write, instead of ending the process.
#pragma once

#include <signal.h>

#include <ctime>

namespace dvkc::tool {

// Blocks both signals in this thread and in the threads it starts later
// (construct it before them); the child processes start with no signal
// blocked. Those raised meanwhile by our own writes are consumed before the
// mask is restored.
class WriteSignalsBlock {
public:
    WriteSignalsBlock()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGPIPE);
        sigaddset(&set_, SIGXFSZ);
        sigpending(&was_pending_);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    WriteSignalsBlock(const WriteSignalsBlock &) = delete;
    WriteSignalsBlock &operator=(const WriteSignalsBlock &) = delete;
    ~WriteSignalsBlock()
    {
        sigset_t ours;
        sigemptyset(&ours);
        for (const int signal : {SIGPIPE, SIGXFSZ}) {
            if (sigismember(&was_pending_, signal) != 1 && sigismember(&old_, signal) != 1) {
                sigaddset(&ours, signal);
            }
        }
        const timespec zero{0, 0};
        while (sigtimedwait(&ours, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t set_{};
    sigset_t old_{};
    sigset_t was_pending_{};
};

}  // namespace dvkc::tool
