#include "platform/name_lookup.h"

#include <winsock2.h>

#include <cstring>

namespace dvkc::platform {
namespace {

// The first IPv4 address of a host entry. Winsock keeps the entry per
// thread, so the lookups are thread-safe.
bool first_address(const hostent *entry, std::uint32_t &address) noexcept
{
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return true;
}

}  // namespace

bool lookup_by_name(const char *host, std::uint32_t &address) noexcept
{
    return first_address(::gethostbyname(host), address);
}

bool lookup_by_address(std::uint32_t address, std::uint32_t &found) noexcept
{
    return first_address(::gethostbyaddr(reinterpret_cast<const char *>(&address), sizeof address, AF_INET), found);
}

std::uint32_t dotted_address(const char *host) noexcept
{
    return ::inet_addr(host);
}

}  // namespace dvkc::platform
