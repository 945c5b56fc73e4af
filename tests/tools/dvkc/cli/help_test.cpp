// What every subcommand's --help and the tool's --version say.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace test;

TEST(ToolHelp, EverySubcommandDocumentsTheExitStatus)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--help"}, {"query", "--help"}, {"serve", "--help"}, {"demo", "--help"}, {"codes", "--help"}}) {
        const ProcessResult run = run_tool(args);
        EXPECT_EQ(run.exit_status, exit_ok);
        EXPECT_TRUE(contains(run.out, "Exit status:")) << args[0];
        EXPECT_TRUE(contains(run.out, "5  query: some batches were answered")) << args[0];
    }
    const ProcessResult version = run_tool({"--version"});
    EXPECT_EQ(version.exit_status, exit_ok);
    EXPECT_TRUE(contains(version.out, "dvkc 1."));
}

}  // namespace
}  // namespace dvkc::tool
