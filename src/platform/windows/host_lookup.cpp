#include "platform/host_lookup.h"

#include <winsock2.h>

#include <cstring>

namespace dvkc::platform {
namespace {

bool starts_with_letter(const char *host) noexcept
{
    const char first = host[0];
    return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
}

// The first IPv4 address of a host entry. Winsock keeps the entry per
// thread, so the lookups are thread-safe.
bool first_address(const hostent *entry, std::uint32_t &address) noexcept
{
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return true;
}

}  // namespace

std::uint32_t dotted_address(const char *host) noexcept
{
    return ::inet_addr(host);
}

bool find_ipv4_address(const char *host, std::uint32_t &address) noexcept
{
    if (!starts_with_letter(host)) {
        address = dotted_address(host);
        return true;
    }
    if (first_address(::gethostbyname(host), address)) {
        return true;
    }
    const std::uint32_t dotted = dotted_address(host);
    return first_address(::gethostbyaddr(reinterpret_cast<const char *>(&dotted), sizeof dotted, AF_INET),
                         address);
}

}  // namespace dvkc::platform
