// `dvkc demo`.
#pragma once

#include <ostream>
#include <string>

namespace dvkc::tool {

// The demo: a throwaway PKI and identity file, the sample service on an
// ephemeral loopback port, one query of a few records, the table. Returns 0
// when the query was answered, 128 + the signal when stopped by SIGINT,
// SIGTERM or SIGHUP (the temporary files are removed either way). The
// exchange runs in `helper` (see exchange_helper.h).
int run_demo(std::ostream &out, std::ostream &err, const std::string &helper);

}  // namespace dvkc::tool
