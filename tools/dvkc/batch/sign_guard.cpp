#include "batch/sign_guard.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

// POSIX declares the environment so; posix_spawn takes it as it is.
extern char **environ;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace dvkc::tool {
namespace {

// The tool is gone: take down the group (the command and all it started).
extern "C" void take_group_down(int /*signal*/)
{
    ::kill(0, SIGKILL);
}

}  // namespace

int sign_guard_main(int argc, char **argv)
{
    if (argc != 3) {
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = take_group_down;
    ::sigaction(SIGTERM, &action, nullptr);
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) {
        return 1;
    }
    char shell[] = "/bin/sh";
    char dash_c[] = "-c";
    char *const args[] = {shell, dash_c, argv[2], nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, shell, nullptr, nullptr, args, environ) != 0) {
        return 127;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return 1;
        }
    }
    if (WIFSIGNALED(status)) {
        static_cast<void>(::signal(WTERMSIG(status), SIG_DFL));
        static_cast<void>(::raise(WTERMSIG(status)));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace dvkc::tool
