// `dvkc query`: reads the records, runs one query per batch and reports.
#pragma once

#include <istream>
#include <ostream>

#include "query/query_options.h"

namespace dvkc::tool {

// The whole subcommand: returns the exit status. `in` is read for "-".
int run_query(QueryOptions options, std::istream &in, std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
