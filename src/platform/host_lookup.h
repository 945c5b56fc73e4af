// Finding the IPv4 address to connect to (thread-safe).
#pragma once

#include <cstdint>

namespace dvkc::platform {

// Stores in `address` (network byte order) where to connect for `host`:
// - a host whose first character is a letter (A-Z, a-z) is looked up by
//   name; when that fails, its dotted conversion is looked up in reverse and,
//   if that succeeds, used; when both fail the result is false;
// - any other host is converted as dotted IPv4 text (inet_addr rules) and
//   used unchecked, so text that is no address becomes 255.255.255.255.
bool find_ipv4_address(const char *host, std::uint32_t &address) noexcept;

}  // namespace dvkc::platform
