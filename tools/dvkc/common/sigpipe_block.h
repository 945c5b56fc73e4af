// SIGPIPE blocked in this thread while it writes to a peer that may have
// gone: a child's pipe, or a server's socket.
#pragma once

#include <signal.h>

#include <ctime>

namespace dvkc::tool {

// Blocks SIGPIPE in this thread for its lifetime; a SIGPIPE raised by our
// own write on a closed pipe is consumed before the mask is restored.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_only, &old_);
    }
    SigpipeBlock(const SigpipeBlock &) = delete;
    SigpipeBlock &operator=(const SigpipeBlock &) = delete;
    ~SigpipeBlock()
    {
        if (!was_pending_) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe_only, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t old_{};
    bool was_pending_ = false;
};

}  // namespace dvkc::tool
