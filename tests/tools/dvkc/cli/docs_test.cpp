// The documentation against the tool itself: docs/dvkc.md has a section
// for every subcommand naming each option of its --help, and every exit
// status; the README a line for every subcommand.
#include <gtest/gtest.h>

#include <string>

#include "cli/help_text.h"

namespace dvkc::tool {
namespace {

using namespace test;

// The text of `## \`dvkc <command>\`` up to the next section.
std::string section(const std::string &doc, const std::string &command)
{
    const std::string heading = "\n## `dvkc " + command + "`";
    const std::size_t from = doc.find(heading);
    if (from == std::string::npos) {
        return {};
    }
    return doc.substr(from, doc.find("\n## ", from + 1) - from);
}

TEST(ToolDocs, ReferenceHasEverySubcommandAndOption)
{
    const std::string doc = source_file("docs/dvkc.md");
    ASSERT_FALSE(doc.empty());
    const Words subcommands = help_subcommands();
    EXPECT_EQ(split(doc, R"re(\n## `dvkc ([a-z]+)`)re"), subcommands) << "one section per subcommand";
    for (const std::string &command : subcommands) {
        const std::string text = section(doc, command);
        for (const std::string &option : help_options({command, "--help"})) {
            if (option != "--help") {
                EXPECT_EQ(split(text, "(" + option + ")(?![a-z-])").size(), 1U)
                    << "docs/dvkc.md: dvkc " << command << " does not mention " << option;
            }
        }
    }
}

TEST(ToolDocs, ExitStatusesAreThoseOfTheHelp)
{
    const std::string help = run_tool({"--help"}).out;
    const std::string listed = help.substr(help.find("Exit status:"));
    const Words statuses = split(listed, R"re(\n  ([0-9]+)  )re");
    ASSERT_GE(statuses.size(), 6U) << listed;
    const std::string doc = source_file("docs/dvkc.md");
    const std::string table = doc.substr(doc.find("## Exit statuses"));
    Words documented = split(table, R"re(\n\| ([0-9]+)(?:, [0-9]+)* \|)re");
    for (const std::string &more : split(table, R"re(, ([0-9]+)(?=[,| ]))re")) {
        documented.insert(more);
    }
    for (const std::string &status : statuses) {
        EXPECT_EQ(documented.count(status), 1U) << "docs/dvkc.md lacks exit status " << status;
    }
}

TEST(ToolDocs, ReadmeNamesEverySubcommandOnce)
{
    const std::string readme = source_file("README.md");
    EXPECT_EQ(split(readme, R"re(\n\| `dvkc ([a-z]+)` \|)re"), help_subcommands());
}

}  // namespace
}  // namespace dvkc::tool
