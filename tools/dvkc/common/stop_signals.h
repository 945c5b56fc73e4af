// Stopping on SIGINT, SIGTERM and SIGHUP: the signals are blocked in every
// thread and taken by a thread of their own, which raises a flag and makes a
// descriptor readable, so that waits and child processes can be stopped.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <filesystem>
#include <thread>

#include <signal.h>

namespace dvkc::tool {

class StopSignals {
public:
    // Blocks the signals in the calling thread (and so in the threads it
    // starts later): construct it before starting any thread.
    StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    ~StopSignals();  // restores the signal mask

    // Readable once a signal came (never read from it).
    int stop_fd() const noexcept { return wake_read_; }
    // The first signal that came, or 0.
    int signal() const noexcept { return signal_.load(); }
    bool stopped() const noexcept { return signal() != 0; }

    // A second SIGINT or SIGTERM ends the process at once with 128 + its
    // number, after `cleanup` (called on the watching thread; it must not
    // wait for the other threads).
    void on_second_signal(std::function<void()> cleanup);

    // Blocks until a signal came; returns it.
    int wait() const;

    // "SIGINT", "SIGTERM", "SIGHUP"
    static const char *name(int signal) noexcept;

private:
    void watch();

    sigset_t set_{};
    sigset_t old_{};
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::atomic<int> signal_{0};
    std::atomic<bool> quit_{false};
    std::mutex cleanup_mutex_;  // the watching thread reads cleanup_
    std::function<void()> cleanup_;
    std::jthread thread_;
};

// On a second signal the process ends at once: the directory `dir` is
// removed first (private keys included).
void remove_on_second_signal(StopSignals &signals, const std::filesystem::path &dir);

}  // namespace dvkc::tool
