// `dvkc check`: why a server is or is not trusted by a trust file under the
// library's rules, and what the library's exchange would return, before
// anything is sent.
#pragma once

#include <iostream>
#include <string>

#include "dvkc.hpp"

namespace dvkc::tool {

struct CheckOptions {
    dvkc::Endpoint endpoint;  // host and trust file; the port once read
    std::string port;         // --port as given (else DVKC_PORT, else 443)
    bool json = false;        // --output json
    long timeout = 10;        // seconds for connecting and the handshake together; 0: no limit
};

// Runs the check; returns the exit status: 0 when the exchange would succeed,
// 4 when it would fail, 3 when the trust file does not load, 6 when the
// server took longer than the time limit, 2 for a missing host or trust file.
int run_check(CheckOptions options, std::ostream &out = std::cout, std::ostream &err = std::cerr);

}  // namespace dvkc::tool
