#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace dvkc::platform {
namespace {

bool starts_with_letter(const char *host) noexcept
{
    const char first = host[0];
    return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
}

struct AddrInfoDeleter {
    void operator()(addrinfo *list) const noexcept { ::freeaddrinfo(list); }
};

bool lookup_by_name(const char *host, std::uint32_t &address) noexcept
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0) {
        return false;
    }
    const std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);
    for (const addrinfo *entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr;
            return true;
        }
    }
    return false;
}

// Whether `address` has a name; a reverse lookup that finds one supplies
// the address itself.
bool lookup_in_reverse(std::uint32_t address) noexcept
{
    sockaddr_in query{};
    query.sin_family = AF_INET;
    query.sin_addr.s_addr = address;
    char name[NI_MAXHOST];
    return ::getnameinfo(reinterpret_cast<const sockaddr *>(&query), sizeof query, name, sizeof name,
                         nullptr, 0, NI_NAMEREQD) == 0;
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
    if (lookup_by_name(host, address)) {
        return true;
    }
    const std::uint32_t dotted = dotted_address(host);
    if (lookup_in_reverse(dotted)) {
        address = dotted;
        return true;
    }
    return false;
}

}  // namespace dvkc::platform
