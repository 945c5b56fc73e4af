// `dvkc demo`.
#pragma once

#include <ostream>

namespace dvkc::tool {

// The demo: a throwaway PKI and identity file, the sample service on an
// ephemeral loopback port, one query of a few records, the table. Returns 0
// when the query was answered.
int run_demo(std::ostream &out, std::ostream &err);

}  // namespace dvkc::tool
