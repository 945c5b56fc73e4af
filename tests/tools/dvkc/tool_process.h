// Running the built dvkc tool as a process from the tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/subprocess.h"

extern char **environ;

namespace dvkc::tool::test {

inline bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

inline std::vector<std::string> tool_argv(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{DVKC_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Runs the tool to its end; standard error captured.
inline ProcessResult run_tool(const std::vector<std::string> &args, const std::string &input = "")
{
    return run_process(tool_argv(args), input, true);
}

// The tool running in the background (e.g. `dvkc serve`), its standard
// output read line by line, its standard error sent to `err_file`.
class BackgroundTool {
public:
    BackgroundTool(const std::vector<std::string> &args, const std::string &err_file)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const std::vector<std::string> argv_strings = tool_argv(args);
        std::vector<char *> argv;
        for (const std::string &arg : argv_strings) {
            argv.push_back(const_cast<char *>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            throw std::runtime_error("cannot start the tool");
        }
        out_ = ::fdopen(fds[0], "r");
    }
    BackgroundTool(const BackgroundTool &) = delete;
    BackgroundTool &operator=(const BackgroundTool &) = delete;
    ~BackgroundTool()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (out_ != nullptr) {
            std::fclose(out_);
        }
    }

    // The next line of standard output without its newline; false at its end.
    bool read_line(std::string &line)
    {
        line.clear();
        int c = 0;
        while ((c = std::fgetc(out_)) != EOF && c != '\n') {
            line += static_cast<char>(c);
        }
        return c != EOF || !line.empty();
    }

    void signal(int number) { ::kill(pid_, number); }

    // Waits for the end; returns the exit status, or 128 + signal.
    int wait()
    {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
            if (errno != EINTR) {
                pid_ = -1;
                return -1;
            }
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    std::FILE *out_ = nullptr;
};

}  // namespace dvkc::tool::test
