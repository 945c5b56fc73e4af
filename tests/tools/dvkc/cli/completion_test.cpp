// The bash completion (share/dvkc.bash) against the tool itself: the same
// subcommands as `dvkc --help`, and for each the options its --help lists.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/exit_status.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using Words = std::set<std::string>;

std::string completion_script()
{
    std::ifstream in(std::string(DVKC_SOURCE_DIR) + "/tools/dvkc/share/dvkc.bash");
    return {std::istreambuf_iterator<char>(in), {}};
}

Words split(const std::string &text, const std::string &pattern)
{
    Words words;
    const std::regex word(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it) {
        words.insert((*it)[it->size() > 1 ? 1 : 0].str());
    }
    return words;
}

// The long options a --help lists, group members included.
Words help_options(const std::vector<std::string> &args)
{
    const ProcessResult help = test::run_tool(args);
    EXPECT_EQ(help.exit_status, exit_ok) << help.err;
    return split(help.out, R"re((?:^|\n) +(?:-[a-z],)?(--[a-z][a-z-]*))re");
}

// The subcommands `dvkc --help` lists.
Words help_subcommands()
{
    const std::string help = test::run_tool({"--help"}).out;
    const std::size_t from = help.find("\nSubcommands:\n");
    EXPECT_NE(from, std::string::npos) << help;
    const std::string section = help.substr(from, help.find("\n\n", from + 1) - from);
    return split(section, R"re(\n  ([a-z]+) )re");
}

std::string first_match(const std::string &text, const std::string &pattern)
{
    std::smatch found;
    EXPECT_TRUE(std::regex_search(text, found, std::regex(pattern))) << pattern;
    return found.size() > 1 ? found[1].str() : std::string();
}

TEST(Completion, SubcommandsAreTheToolsOwn)
{
    const std::string script = completion_script();
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
    const std::string script = completion_script();
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
