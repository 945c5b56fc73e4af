// Words for a command line that went wrong: "did you mean", unknown
// subcommands and options.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Error;
}  // namespace CLI

namespace dvkc::tool {

// The candidate closest to `word` by edit distance, when at most two edits
// (and fewer than half its length) away; else empty.
std::string closest_word(std::string_view word, const std::vector<std::string> &candidates);

// CLI11's failure message: "dvkc: " and its words, a suggestion for a
// mistyped option, and a pointer to --help.
std::string failure_message(const CLI::App *app, const CLI::Error &error);

// A first word that is no subcommand: says so, with the closest one.
bool unknown_subcommand(const CLI::App &app, int argc, char **argv, std::ostream &err);

// Options the command line held that no subcommand knows (left over after
// a failed parse): names each, with the closest known one.
bool unknown_options(const CLI::App &app, std::ostream &err);

}  // namespace dvkc::tool
