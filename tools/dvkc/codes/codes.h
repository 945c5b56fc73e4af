// `dvkc codes`: the words for every result of every library call.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace dvkc::tool {

struct CodesOptions {
    std::vector<std::int32_t> wanted;  // empty: all
    bool markdown = false;
};

// Prints the rows of dvkc::result_table whose code is wanted (all rows when
// none is), as aligned text or as a Markdown table, and names on `err` each
// wanted code that is no result of any call. Returns the exit status (2 when
// a code is unknown).
int run_codes(const CodesOptions &options, std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
