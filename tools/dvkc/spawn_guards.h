// The process state a child is started with: SIGPIPE blocked in our
// thread while we write to it, and posix_spawn's actions and attributes
// as RAII objects.
#pragma once

#include <signal.h>
#include <spawn.h>

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

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t *get() noexcept { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

class SpawnAttributes {
public:
    SpawnAttributes()
    {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        posix_spawnattr_setpgroup(&attr_, 0);  // a group of its own, killed as one
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    posix_spawnattr_t *get() noexcept { return &attr_; }

private:
    posix_spawnattr_t attr_{};
};

}  // namespace dvkc::tool
