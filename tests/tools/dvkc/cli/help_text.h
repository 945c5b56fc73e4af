// What the tool's --help says, read by the tests that hold the completion
// script and the documentation to it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "tool_process.h"

namespace dvkc::tool::test {

inline std::string source_file(const std::string &path)
{
    std::ifstream in(std::string(DVKC_SOURCE_DIR) + "/" + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

using Words = std::set<std::string>;

inline Words split(const std::string &text, const std::string &pattern)
{
    Words words;
    const std::regex word(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it) {
        words.insert((*it)[it->size() > 1 ? 1 : 0].str());
    }
    return words;
}

// The long options a --help lists, group members included.
inline Words help_options(const std::vector<std::string> &args)
{
    const ProcessResult help = run_tool(args);
    EXPECT_EQ(help.exit_status, exit_ok) << help.err;
    return split(help.out, R"re((?:^|\n) +(?:-[a-z],)?(--[a-z][a-z-]*))re");
}

// The subcommands `dvkc --help` lists.
inline Words help_subcommands()
{
    const std::string help = run_tool({"--help"}).out;
    const std::size_t from = help.find("\nSubcommands:\n");
    EXPECT_NE(from, std::string::npos) << help;
    const std::string section = help.substr(from, help.find("\n\n", from + 1) - from);
    return split(section, R"re(\n  ([a-z]+) )re");
}

inline std::string first_match(const std::string &text, const std::string &pattern)
{
    std::smatch found;
    EXPECT_TRUE(std::regex_search(text, found, std::regex(pattern))) << pattern;
    return found.size() > 1 ? found[1].str() : std::string();
}

}  // namespace dvkc::tool::test
