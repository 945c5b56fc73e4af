// Where a subcommand meets the service: what --host, --port, --path and
// --trust (and their DVKC_* stand-ins) share between the subcommands.
#pragma once

#include <string>

namespace dvkc::tool {

// The port from `given` (--port), else DVKC_PORT, else 443: "" or why it
// is no TCP port, naming where it came from.
std::string read_port(const std::string &given, int &port);

}  // namespace dvkc::tool
