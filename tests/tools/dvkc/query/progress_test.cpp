// The progress bar of `dvkc query` and the lines written above it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "query/progress.h"

namespace dvkc::tool {
namespace {

// Output to the bar's terminal goes on a line of its own: the bar's line is
// cleared first and the bar drawn again after it.
TEST(ProgressBar, OutputToTheTerminalClearsTheBarFirst)
{
    std::ostringstream terminal;
    {
        ProgressBar bar(terminal, 4, true);
        bar.draw(1, 0);
        bar.above([&] { terminal << "table line\n"; });
    }
    const std::string cleared = "\r" + std::string(90, ' ') + "\r";
    const std::string bar = "\r[##########..............................] 1/4 batches";
    EXPECT_EQ(terminal.str(),
              "\r[" + std::string(40, '.') + "] 0/4 batches" + bar + cleared + "table line\n" + bar + cleared);
}

}  // namespace
}  // namespace dvkc::tool
