// `dvkc check`: why a server is or is not trusted by a trust file under the
// library's rules, and what the library's exchange would return, before
// anything is sent.
#pragma once

#include <iostream>
#include <string>

#include "cli/command.h"

namespace CLI {
class App;
}

namespace dvkc::tool {

struct CheckOptions {
    std::string host;
    std::string port;  // --port as given (else DVKC_PORT, else 443)
    std::string trust_file;
    bool json = false;  // --output json
    long timeout = 10;  // seconds for connecting and the handshake together; 0: no limit
};

// Adds the subcommand, binds its options and, once parsed, runs it.
void setup_check(CLI::App &app, ToolContext &tool);

// Runs the check; returns the exit status: 0 when the exchange would succeed,
// 4 when it would fail, 3 when the trust file does not load, 6 when the
// server took longer than the time limit, 2 for a missing host or trust file.
int run_check(const CheckOptions &options, std::ostream &out = std::cout, std::ostream &err = std::cerr);

}  // namespace dvkc::tool
