// Where a subcommand meets the service: --host, --port, --path and --trust
// with their DVKC_* stand-ins, declared, worded and required once for every
// subcommand that takes them.
#pragma once

#include <string>

#include "dvkc.hpp"

namespace CLI {
class App;
}

namespace dvkc::tool {

// Adds --host, --port, --trust and, when `with_path`, --path to `command`,
// bound to `endpoint` (all but its port) and `port` (--port as given).
void add_endpoint_options(CLI::App &command, dvkc::Endpoint &endpoint, std::string &port, bool with_path);

// After parsing: reads `port` (else DVKC_PORT, else 443) into endpoint.port
// and checks the path; when `needed`, a host and a trust file must be there.
// Returns "" or the usage error, naming the option.
std::string read_endpoint(dvkc::Endpoint &endpoint, const std::string &port, bool needed);

// The port from `given` (--port), else DVKC_PORT, else 443: "" or why it
// is no TCP port, naming where it came from.
std::string read_port(const std::string &given, int &port);

}  // namespace dvkc::tool
