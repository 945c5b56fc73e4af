// `dvkc codes`: the words for every result of every library call.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace dvkc::tool {

// Prints the rows of dvkc::result_table whose code is in `only` (all rows when
// `only` is empty), as aligned text or as a Markdown table. Returns false when
// a code in `only` is no result of any call.
bool write_codes(std::ostream &out, const std::vector<std::int32_t> &only, bool markdown);

// The codes of `wanted` that are no result of any call, in their order.
std::vector<std::int32_t> unknown_codes(const std::vector<std::int32_t> &wanted);

}  // namespace dvkc::tool
