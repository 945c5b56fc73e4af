// The bash completion (share/dvkc.bash) against the tool itself: the same
// subcommands as `dvkc --help`, and for each the options its --help lists.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli/help_text.h"

namespace dvkc::tool {
namespace {

using namespace test;

TEST(Completion, SubcommandsAreTheToolsOwn)
{
    const std::string script = source_file("tools/dvkc/share/dvkc.bash");
    ASSERT_FALSE(script.empty());
    const Words subcommands = help_subcommands();
    ASSERT_GE(subcommands.size(), 5U);
    // Where the script finds the subcommand on the line, and what it offers first.
    EXPECT_EQ(split(first_match(script, R"re(case \$\{words\[i\]\} in\s*\n\s*([a-z |]+)\))re"), "[a-z]+"), subcommands);
    Words first = split(first_match(script, R"re(compgen -W "([^"]*)")re"), "[a-z-]+");
    Words top_options = help_options({"--help"});
    for (const std::string &option : top_options) {
        EXPECT_EQ(first.erase(option), 1U) << option << " is not offered before a subcommand";
    }
    EXPECT_EQ(first, subcommands);
}

TEST(Completion, EachSubcommandsOptionsAreThoseOfItsHelp)
{
    const std::string script = source_file("tools/dvkc/share/dvkc.bash");
    const std::string table = first_match(script, R"re(case \$command in([\s\S]*?)\n    esac)re");
    const std::regex entry(R"re(\n\s*([a-z]+)\)\s*options="([^"]*)")re");
    Words listed;
    for (auto it = std::sregex_iterator(table.begin(), table.end(), entry); it != std::sregex_iterator(); ++it) {
        const std::string command = (*it)[1].str();
        listed.insert(command);
        EXPECT_EQ(split((*it)[2].str(), "--[a-z][a-z-]*"), help_options({command, "--help"})) << "dvkc " << command;
    }
    EXPECT_EQ(listed, help_subcommands());
    // Every option the script names anywhere is one of some --help.
    Words known = help_options({"--help"});
    for (const std::string &command : help_subcommands()) {
        const Words options = help_options({command, "--help"});
        known.insert(options.begin(), options.end());
    }
    for (const std::string &named : split(script, R"re((?:^|[ (|])(--[a-z][a-z-]*))re")) {
        EXPECT_TRUE(known.count(named) == 1) << named << " is no option of dvkc";
    }
}

}  // namespace
}  // namespace dvkc::tool
