// Suggestions for mistyped subcommands and options ("did you mean").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dvkc::tool {

// The candidate closest to `word` by edit distance, when at most two edits
// (and fewer than half its length) away; else empty.
std::string closest_word(std::string_view word, const std::vector<std::string> &candidates);

}  // namespace dvkc::tool
