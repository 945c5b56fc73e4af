#include "common/subprocess.h"

#include "common/spawn_guards.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>

#include <algorithm>
#include <array>
#include <utility>
#include <cerrno>
#include <ctime>
#include <system_error>

// POSIX declares the environment so; posix_spawnp takes it as it is.
extern char **environ;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace dvkc::tool {
namespace {

[[noreturn]] void throw_errno(const char *what, int error = errno)
{
    throw std::system_error(error, std::generic_category(), what);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const noexcept { return fd_; }
    void reset() noexcept
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

Pipe make_pipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw_errno("pipe2");
    }
    return {Fd(fds[0]), Fd(fds[1])};
}

void set_nonblocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw_errno("fcntl");
    }
}

using Clock = std::chrono::steady_clock;

// When a child must be stopped, and how to tell.
class Stopper {
public:
    explicit Stopper(const RunLimits &limits) : cancel_fd_(limits.cancel_fd)
    {
        if (limits.timeout.count() > 0) {
            deadline_ = Clock::now() + limits.timeout;
        }
    }

    // Milliseconds poll() may wait before the deadline (-1: no deadline).
    int wait_ms() const
    {
        if (deadline_ == Clock::time_point::max()) {
            return -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60'000));
    }
    bool past_deadline() const { return Clock::now() >= deadline_; }
    bool cancelled() const
    {
        if (cancel_fd_ < 0) {
            return false;
        }
        pollfd fd{cancel_fd_, POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }
    int cancel_fd() const noexcept { return cancel_fd_; }

private:
    int cancel_fd_;
    Clock::time_point deadline_ = Clock::time_point::max();
};

// Waits until one of the child's pipes (`in` to write to, `out` and `err` to
// read from; -1 for one not open) or the stopper's cancel descriptor is
// ready, or the stopper's next look is due. Returns how many of `fds` it
// filled, or 0 when a signal cut the wait short (the caller looks again).
nfds_t wait_for_pipes(int in, int out, int err, const Stopper &stopper, std::array<pollfd, 4> &fds)
{
    nfds_t count = 0;
    for (const auto &[fd, events] : {std::pair{in, POLLOUT}, std::pair{out, POLLIN}, std::pair{err, POLLIN},
                                     std::pair{stopper.cancel_fd(), POLLIN}}) {
        fds[count] = {fd, static_cast<short>(events), 0};
        count += fd >= 0 ? 1 : 0;
    }
    if (::poll(fds.data(), count, stopper.wait_ms()) < 0) {
        if (errno == EINTR) {
            return 0;
        }
        throw_errno("poll");
    }
    return count;
}

// Reaps `pid`, killing its group first when the limits say so.
void reap(pid_t pid, const Stopper &stopper, ProcessResult &result)
{
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, result.timed_out || result.cancelled ? 0 : WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            throw_errno("waitpid");
        }
        if (done == 0) {
            if (stopper.cancelled()) {
                result.cancelled = true;
            } else if (stopper.past_deadline()) {
                result.timed_out = true;
            } else {
                // Its output is closed but it runs on: look again shortly.
                pollfd fd{stopper.cancel_fd(), POLLIN, 0};
                const int wait = stopper.wait_ms();
                ::poll(&fd, stopper.cancel_fd() >= 0 ? 1 : 0, wait < 0 || wait > 20 ? 20 : wait);
                continue;
            }
            ::kill(-pid, SIGKILL);
        }
    }
    if (result.timed_out || result.cancelled) {
        ::kill(-pid, SIGKILL);  // whatever the group started
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

// Our ends of the child's standard input, output and (when captured) error.
struct ChildPipes {
    Fd in;
    Fd out;
    Fd err;
};

// Starts argv in a process group of its own with pipes on its standard
// streams; returns its pid and leaves our ends in `ours`.
pid_t spawn_child(const std::vector<std::string> &argv, bool capture_err, ChildPipes &ours)
{
    Pipe in = make_pipe();
    Pipe out = make_pipe();
    Pipe err;
    if (capture_err) {
        err = make_pipe();
    }
    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), in.read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), out.write.get(), STDOUT_FILENO);
    if (capture_err) {
        posix_spawn_file_actions_adddup2(actions.get(), err.write.get(), STDERR_FILENO);
    }
    SpawnAttributes attributes;
    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &arg : argv) {
        // posix_spawnp's argv is char *const[] for C's sake; it never writes the strings.
        args.push_back(const_cast<char *>(arg.c_str()));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), environ);
    if (spawned != 0) {
        throw_errno("cannot start process", spawned);
    }
    ours = {std::move(in.write), std::move(out.read), std::move(err.read)};
    return pid;
}

// Writes what the child's input can take now; closes it when all is written
// or the child stopped reading.
void feed(Fd &in, std::string_view input, std::size_t &written)
{
    const ssize_t n = ::write(in.get(), input.data() + written, input.size() - written);
    if (n > 0) {
        written += static_cast<std::size_t>(n);
    }
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
        in.reset();
    }
}

// Reads what `source` holds now into `into`; closes it at its end.
void collect(Fd &source, std::string &into)
{
    char block[65536];
    const ssize_t n = ::read(source.get(), block, sizeof block);
    if (n > 0) {
        into.append(block, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        source.reset();
    }
}

// Feeds `input` and collects the output until both outputs close, or the
// stopper says stop (result.timed_out or result.cancelled set). Throws on a
// failed poll.
void pump(ChildPipes &pipes, std::string_view input, const Stopper &stopper, ProcessResult &result)
{
    const SigpipeBlock no_sigpipe;
    set_nonblocking(pipes.in.get());
    std::size_t written = 0;
    if (input.empty()) {
        pipes.in.reset();
    }
    while (pipes.out.get() >= 0 || pipes.err.get() >= 0) {
        std::array<pollfd, 4> fds{};
        const nfds_t count = wait_for_pipes(pipes.in.get(), pipes.out.get(), pipes.err.get(), stopper, fds);
        if (count == 0) {
            continue;
        }
        if ((result.cancelled = stopper.cancelled()) || (result.timed_out = stopper.past_deadline())) {
            return;
        }
        for (nfds_t k = 0; k < count; ++k) {
            if (fds[k].revents == 0 || fds[k].fd == stopper.cancel_fd()) {
                continue;
            }
            if (fds[k].fd == pipes.in.get()) {
                feed(pipes.in, input, written);
            } else {
                const bool is_out = fds[k].fd == pipes.out.get();
                collect(is_out ? pipes.out : pipes.err, is_out ? result.out : result.err);
            }
        }
    }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string> &argv, std::string_view input, bool capture_err,
                          const RunLimits &limits)
{
    if (argv.empty()) {
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), "run_process");
    }
    ChildPipes pipes;
    const pid_t pid = spawn_child(argv, capture_err, pipes);
    ProcessResult result;
    const Stopper stopper(limits);
    try {
        pump(pipes, input, stopper, result);
    } catch (const std::system_error &) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        throw;
    }
    pipes = {};
    if (result.timed_out || result.cancelled) {
        ::kill(-pid, SIGKILL);
    }
    reap(pid, stopper, result);
    return result;
}

ProcessResult run_shell(const std::string &command, std::string_view input, bool capture_err, const RunLimits &limits)
{
    return run_process({"/bin/sh", "-c", command}, input, capture_err, limits);
}

struct ChildProcess::Pipes {
    ChildPipes ends;
};

ChildProcess::ChildProcess(const std::vector<std::string> &argv) : pipes_(std::make_unique<Pipes>())
{
    if (argv.empty()) {
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), "ChildProcess");
    }
    pid_ = spawn_child(argv, true, pipes_->ends);
    try {
        set_nonblocking(pipes_->ends.in.get());
    } catch (const std::system_error &) {
        stop();
        throw;
    }
}

ChildProcess::~ChildProcess()
{
    stop();
}

void ChildProcess::stop() noexcept
{
    pipes_->ends = {};
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

bool ChildProcess::running()
{
    if (pid_ <= 0) {
        return false;
    }
    // Look without reaping, so that its group is still ours to kill.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) {
        stop();
        return false;
    }
    return true;
}

ProcessResult ChildProcess::converse(std::string_view request, const ReplyLength &reply_length, const RunLimits &limits)
{
    ProcessResult result;
    if (pid_ <= 0) {
        return result;
    }
    const Stopper stopper(limits);
    const SigpipeBlock no_sigpipe;
    ChildPipes &pipes = pipes_->ends;
    std::size_t written = 0;
    try {
        while (pipes.out.get() >= 0 || pipes.err.get() >= 0) {
            const int in = written < request.size() ? pipes.in.get() : -1;
            std::array<pollfd, 4> fds{};
            const nfds_t count = wait_for_pipes(in, pipes.out.get(), pipes.err.get(), stopper, fds);
            if (count == 0) {
                continue;
            }
            if ((result.cancelled = stopper.cancelled()) || (result.timed_out = stopper.past_deadline())) {
                stop();
                return result;
            }
            for (nfds_t k = 0; k < count; ++k) {
                if (fds[k].revents == 0 || fds[k].fd == stopper.cancel_fd()) {
                    continue;
                }
                if (fds[k].fd == in) {
                    const ssize_t n = ::write(in, request.data() + written, request.size() - written);
                    if (n > 0) {
                        written += static_cast<std::size_t>(n);
                    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                        pipes.in.reset();  // it stopped reading: its end tells the rest
                    }
                } else if (fds[k].fd == pipes.err.get()) {
                    collect(pipes.err, result.err);
                } else {
                    collect(pipes.out, result.out);
                    const std::size_t whole = reply_length(result.out);
                    if (whole != 0) {
                        result.out.resize(std::min(whole, result.out.size()));
                        result.replied = true;
                        return result;
                    }
                }
            }
        }
    } catch (const std::system_error &) {
        stop();
        throw;
    }
    // Its output ended before a whole reply: it has ended, or is ending.
    pipes = {};
    reap(pid_, stopper, result);
    pid_ = -1;
    return result;
}

}  // namespace dvkc::tool
