// `dvkc query --output-file`: streamed, committed whole at the end, written
// where the path leads, and its write errors.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "query/tool_query.h"
#include "sample_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

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
