// `dvkc demo` from start to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "sample_service.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;
using namespace test;

TEST(ToolDemo, RunsAndPrintsTheTable)
{
    const ProcessResult run = run_tool({"demo"});
    ASSERT_EQ(run.exit_status, exit_ok) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(contains(run.out, "SN                SSID        Code\n")) << run.out;
    for (const char *sn : {"SN-0001", "SN-0002", "DEV42-7781", "0000000000000001"}) {
        EXPECT_TRUE(contains(run.out, std::to_string(default_code(sn)) + "\n")) << sn;
        EXPECT_TRUE(contains(run.out, sn));
    }
    EXPECT_TRUE(contains(run.out, "temporary files removed"));
}

}  // namespace
}  // namespace dvkc::tool
