#include "common/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace dvkc::tool {

StopSignals::StopSignals()
{
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGHUP);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    wake_read_ = fds[0];
    wake_write_ = fds[1];
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    thread_ = std::jthread([this] { watch(); });
}

StopSignals::~StopSignals()
{
    quit_ = true;
    if (thread_.joinable()) {
        // Wake the watching thread now rather than at its next tick: a signal
        // of the set sent to that thread alone, which it takes and drops.
        pthread_kill(thread_.native_handle(), SIGHUP);
        thread_.join();
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    ::close(wake_read_);
    ::close(wake_write_);
}

void StopSignals::on_second_signal(std::function<void()> cleanup)
{
    const std::lock_guard lock(cleanup_mutex_);
    cleanup_ = std::move(cleanup);
}

void StopSignals::watch()
{
    const timespec tick{0, 100'000'000};
    while (!quit_) {
        const int got = ::sigtimedwait(&set_, nullptr, &tick);
        if (got <= 0 || quit_) {
            continue;
        }
        int expected = 0;
        if (signal_.compare_exchange_strong(expected, got)) {
            const char byte = 1;
            while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
            }
            continue;
        }
        if (got == SIGINT || got == SIGTERM) {
            const std::lock_guard lock(cleanup_mutex_);
            if (cleanup_) {
                cleanup_();
            }
            ::_exit(128 + got);
        }
    }
}

int StopSignals::wait() const
{
    pollfd fd{wake_read_, POLLIN, 0};
    while (!stopped()) {
        ::poll(&fd, 1, -1);
    }
    return signal();
}

const char *StopSignals::name(int signal) noexcept
{
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

void remove_on_second_signal(StopSignals &signals, const std::filesystem::path &dir)
{
    signals.on_second_signal([dir] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
}

}  // namespace dvkc::tool
