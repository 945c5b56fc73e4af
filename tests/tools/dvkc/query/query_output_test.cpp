// `dvkc query --output-file`: streamed, committed whole at the end, written
// where the path leads, and its write errors.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "query/tool_query.h"
#include "sample_service.h"
#include "common/spawn_guards.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

// Runs the tool with standard input and output /dev/null and standard error
// a pipe whose reader is gone; its exit status, or 128 + the signal.
int run_with_standard_error_closed(const std::vector<std::string> &args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    ::close(fds[0]);
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), fds[1], STDERR_FILENO);
    const SpawnAttributes attributes;  // SIGPIPE as by default
    const std::vector<std::string> strings = tool_argv(args);
    std::vector<char *> argv;
    for (const std::string &arg : strings) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], actions.get(), const_cast<SpawnAttributes &>(attributes).get(),
                                 argv.data(), environ);
    ::close(fds[1]);
    int status = 0;
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::size_t files_in(const std::filesystem::path &dir)
{
    const std::filesystem::directory_iterator entries(dir);
    return static_cast<std::size_t>(std::distance(entries, {}));
}

// Output to a file appears whole at the end; a large run in JSON keeps
// memory bounded (the output is streamed); a write error is reported.
TEST_F(ToolQuery, OutputFileStreamedAndWriteErrors)
{
    start_service();
    const std::filesystem::path out = dir_->path() / "out";
    std::filesystem::create_directories(out);
    const ProcessResult run = run_tool(
        query_args(write("big.csv", records_csv(100'000)), {"--signature", "s", "--jobs", "4", "--output", "json",
                                                            "--output-file", (out / "codes.json").string(), "-q"}));
    EXPECT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.out + run.err, "");
#if !defined(__SANITIZE_ADDRESS__)  // its shadow memory and quarantine say nothing of the tool's own memory
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 64L * 1024) << "KiB at most of any child so far";
#endif
    const nlohmann::json doc = nlohmann::json::parse(std::ifstream(out / "codes.json"));
    ASSERT_EQ(doc.at("records").size(), 100'000U);
    EXPECT_EQ(doc.at("records")[99'999].at("code"), default_code("SN-99999"));
    const std::filesystem::directory_iterator entries(out);
    EXPECT_EQ(std::distance(entries, {}), 1) << "no temporary file is left beside it";

    const ProcessResult full = run_tool(query_args(write("r.csv", "A,1\n"), {"--signature", "s", "-o", "/dev/full"}));
    EXPECT_EQ(full.exit_status, exit_internal);
    EXPECT_TRUE(contains(full.err, "dvkc: cannot write /dev/full: No space left on device")) << full.err;
}

// A closed standard error (`2>&1 | tee log`, tee gone) costs nothing: the
// output is committed, the status is as if it were open. The file-size limit
// is met as a full disk is: told, exit 1, no temporary file left.
TEST_F(ToolQuery, ClosedStandardErrorAndFileSizeLimit)
{
    start_service();
    const std::filesystem::path dir = dir_->path() / "write-faults";
    std::filesystem::create_directories(dir);
    const std::string records = write("r.csv", records_csv(300));
    const std::string codes = (dir / "codes.csv").string();
    const int closed = run_with_standard_error_closed(
        query_args(records, {"--signature", "s", "--batch-size", "100", "--output", "csv", "-o", codes}));
    EXPECT_EQ(closed, exit_ok);
    const std::string written = file_text(codes);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 301) << "the header and all 300 records";
    EXPECT_EQ(files_in(dir), 1U) << "no temporary file left";

    const std::string big = (dir / "big.json").string();
    std::string script = "ulimit -f 4 && exec";
    for (const std::string &arg : tool_argv(query_args(records, {"--signature", "s", "--output", "json", "-o", big}))) {
        script += " '" + arg + "'";
    }
    const ProcessResult limited = run_process({"/bin/bash", "-c", script}, "", true);
    EXPECT_EQ(limited.exit_status, exit_internal) << limited.err;
    EXPECT_TRUE(contains(limited.err, "dvkc: cannot write " + big + ": File too large\n")) << limited.err;
    EXPECT_EQ(files_in(dir), 1U) << "no temporary file left, no output";
}

// -o writes where the path leads: through a link to our own standard output,
// to a link's target (the link kept), over a file whose mode is kept; and an
// earlier output stays when no batch was answered.
TEST_F(ToolQuery, OutputFileFollowsLinksKeepsModesAndEarlierOutput)
{
    start_service();
    const std::filesystem::path dir = dir_->path() / "links";
    std::filesystem::create_directories(dir);
    const std::string records = write("r.csv", "A,1\n");
    std::filesystem::create_symlink("/proc/self/fd/1", dir / "so");
    const ProcessResult through = run_tool(query_args(records, {"--signature", "s", "-o", (dir / "so").string()}));
    EXPECT_EQ(through.exit_status, exit_ok) << through.err;
    EXPECT_TRUE(contains(through.out, "A   1     ")) << through.out;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "so"));

    std::ofstream(dir / "target.csv") << "old\n";
    std::filesystem::permissions(dir / "target.csv", std::filesystem::perms(0640));
    std::filesystem::create_symlink("target.csv", dir / "link.csv");
    const ProcessResult linked =
        run_tool(query_args(records, {"--signature", "s", "--output", "csv", "-o", (dir / "link.csv").string()}));
    EXPECT_EQ(linked.exit_status, exit_ok) << linked.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
    EXPECT_EQ(file_text(dir / "target.csv"), "SN,SSID,Code\nA,1," + std::to_string(default_code("A")) + "\n");
    EXPECT_EQ(std::filesystem::status(dir / "target.csv").permissions(), std::filesystem::perms(0640));

    std::vector<std::string> args = query_args(records, {"--signature", "s", "-o", (dir / "target.csv").string()});
    args[4] = std::to_string(port == 1 ? 2 : 1);  // nothing listens there
    const ProcessResult none = run_tool(args);
    EXPECT_EQ(none.exit_status, exit_failed);
    EXPECT_TRUE(contains(none.err, "no batch was answered; " + (dir / "target.csv").string() + " was left as it was"))
        << none.err;
    EXPECT_EQ(file_text(dir / "target.csv"), "SN,SSID,Code\nA,1," + std::to_string(default_code("A")) + "\n");
}

}  // namespace
}  // namespace dvkc::tool
