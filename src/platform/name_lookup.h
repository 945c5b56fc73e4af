// The platform's own name service, one question at a time (thread-safe).
// host_lookup.cpp decides which question to ask.
#pragma once

#include <cstdint>

namespace dvkc::platform {

// The first IPv4 address the name service gives for `host`, in network byte
// order; false when it knows none.
bool lookup_by_name(const char *host, std::uint32_t &address) noexcept;

// Looks `address` (network byte order) up in reverse; when it has a name,
// stores the first address of that entry in `found` and returns true.
bool lookup_by_address(std::uint32_t address, std::uint32_t &found) noexcept;

// inet_addr's conversion: dotted text to an address in network byte order,
// 255.255.255.255 for text that is no address.
std::uint32_t dotted_address(const char *host) noexcept;

}  // namespace dvkc::platform
