#include "cli/endpoint_options.h"

#include <charconv>
#include <cstdlib>
#include <string>

namespace dvkc::tool {
namespace {

// Why `text` (named `source`) is no TCP port, or "".
std::string port_problem(const std::string &text, const std::string &source, int &port)
{
    if (text.empty()) {
        return source + " is empty; it must be a port from 1 to 65535";
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc{} || end != text.data() + text.size() || port < 1 || port > 65535) {
        return source + " must be a port from 1 to 65535 (got '" + text + "')";
    }
    return {};
}

}  // namespace

std::string read_port(const std::string &given, int &port)
{
    // Read before any thread of ours starts.
    const char *env_port = std::getenv("DVKC_PORT");  // NOLINT(concurrency-mt-unsafe)
    const bool from_env = given.empty() && env_port != nullptr;
    const std::string text = !given.empty() ? given : from_env ? env_port : "443";
    return port_problem(text, from_env ? "DVKC_PORT" : "--port", port);
}

}  // namespace dvkc::tool
