#include "cli/endpoint_options.h"

#include <CLI/CLI.hpp>
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

// The URL path: it starts with '/' and holds no space or control character.
std::string path_problem(const std::string &path)
{
    if (path.empty() || path.front() != '/') {
        return "--path must start with '/' (got '" + path + "')";
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ' || byte < 0x20 || byte == 0x7f) {
            return "--path must hold no space or control character";
        }
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

void add_endpoint_options(CLI::App &command, dvkc::Endpoint &endpoint, std::string &port, bool with_path)
{
    command.add_option("--host", endpoint.host, "Service host name or dotted IPv4 address")
        ->type_name("HOST")
        ->envname("DVKC_HOST");
    command.add_option("--port", port, "Service TCP port (default: 443)")->type_name("PORT");
    if (with_path) {
        command.add_option("--path", endpoint.path, "URL path: starts with '/', no space or control character")
            ->type_name("PATH")
            ->capture_default_str()
            ->envname("DVKC_PATH");
    }
    command.add_option("--trust", endpoint.trust_file, "PEM certificates that authenticate the service")
        ->type_name("FILE")
        ->envname("DVKC_TRUST");
}

std::string read_endpoint(dvkc::Endpoint &endpoint, const std::string &port, bool needed)
{
    if (std::string why = read_port(port, endpoint.port); !why.empty()) {
        return why;
    }
    if (needed && endpoint.host.empty()) {
        return "--host is required (or DVKC_HOST)";
    }
    if (needed && endpoint.trust_file.empty()) {
        return "--trust is required (or DVKC_TRUST)";
    }
    return path_problem(endpoint.path);
}

}  // namespace dvkc::tool
