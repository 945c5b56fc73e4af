// Where the library's exchange connects for a host, by its own rule: a host
// whose first character is a letter is looked up by name (IPv4), and when
// that fails its dotted form is looked up in reverse; any other host is
// taken as a dotted IPv4 address without any lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dvkc::tool {

struct HostAddress {
    std::uint32_t address = 0;  // network byte order
    std::string how;            // "looked up by name", ...
    bool not_dotted = false;    // taken as dotted text but not dotted IPv4 text: 255.255.255.255
};

// The address, or nothing when the library would fail with -8.
std::optional<HostAddress> find_host_address(const std::string &host);

// "127.0.0.1"
std::string dotted(std::uint32_t address);

}  // namespace dvkc::tool
