#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace dvkc::platform {
namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo *list) const noexcept { ::freeaddrinfo(list); }
};

}  // namespace

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

// A reverse lookup that finds a name supplies the address itself.
bool lookup_by_address(std::uint32_t address, std::uint32_t &found) noexcept
{
    sockaddr_in query{};
    query.sin_family = AF_INET;
    query.sin_addr.s_addr = address;
    char name[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&query), sizeof query, name, sizeof name, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        return false;
    }
    found = address;
    return true;
}

std::uint32_t dotted_address(const char *host) noexcept
{
    return ::inet_addr(host);
}

}  // namespace dvkc::platform
