// `dvkc codes`: the library's own words for each result, and the README's
// results table made from them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using dvkc::Call;
using namespace test;

TEST(ToolCodes, TheSameWordsAsTheHeader)
{
    const ProcessResult some = run_tool({"codes", "-12", "2005", "9999"});
    EXPECT_EQ(some.exit_status, exit_usage);
    EXPECT_TRUE(contains(some.out, "iSSL_SendThenRecv       -12  ")) << some.out;
    EXPECT_TRUE(contains(some.out, "iParse_DVKResponsePKT  2005  ")) << some.out;
    EXPECT_EQ(some.err, "dvkc: 9999 is no result of any call (see dvkc codes)\n");
    const ProcessResult nonce = run_tool({"codes", "2005"});
    EXPECT_EQ(nonce.exit_status, exit_ok);
    EXPECT_TRUE(contains(nonce.out, "iParse_DVKResponsePKT  2005  the answer's nonce is not the one we sent\n"))
        << nonce.out;
    const ProcessResult minus_one = run_tool({"codes", "--", "-1", "-12"});
    EXPECT_EQ(minus_one.exit_status, exit_ok) << minus_one.err;
    for (const Call call : {Call::build, Call::wrap, Call::exchange, Call::parse}) {
        EXPECT_TRUE(contains(minus_one.out, std::string(dvkc::describe(call, -1)))) << minus_one.out;
    }
    EXPECT_TRUE(contains(minus_one.out, std::string(dvkc::describe(Call::exchange, -12))));
    const ProcessResult all = run_tool({"codes"});
    std::size_t lines = 0;
    for (const char c : all.out) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(lines, std::size(dvkc::result_table));
}

TEST(ToolDocs, ResultsTableIsTheToolsOwn)
{
    // The README's results table is `dvkc codes --markdown`, word for word.
    const ProcessResult table = run_tool({"codes", "--markdown"});
    ASSERT_EQ(table.exit_status, exit_ok);
    std::ifstream doc(std::string(DVKC_SOURCE_DIR) + "/README.md");
    const std::string text((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(contains(text, table.out)) << "update the results table in README.md from `dvkc codes --markdown`";
}

}  // namespace
}  // namespace dvkc::tool
