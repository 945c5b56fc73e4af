// What every subcommand's --help and the tool's --version say.
#include <gtest/gtest.h>
#include <openssl/crypto.h>

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
}

// The tool's version, then the OpenSSL release loaded at run time (the same
// shared libcrypto this test has loaded), and nothing else.
TEST(ToolHelp, VersionNamesTheOpenSslItRunsWith)
{
    const ProcessResult version = run_tool({"--version"});
    EXPECT_EQ(version.exit_status, exit_ok);
    const std::size_t first_end = version.out.find('\n');
    ASSERT_NE(first_end, std::string::npos) << version.out;
    EXPECT_EQ(version.out.rfind("dvkc 1.", 0), 0U) << version.out;
    EXPECT_EQ(version.out.substr(first_end + 1), std::string(OpenSSL_version(OPENSSL_VERSION)) + "\n");
    EXPECT_EQ(version.out.substr(first_end + 1).rfind("OpenSSL 3.", 0), 0U) << version.out;
}

}  // namespace
}  // namespace dvkc::tool
