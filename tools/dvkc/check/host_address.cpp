#include "check/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <memory>

namespace dvkc::tool {
namespace {

struct AddrInfoFree {
    void operator()(addrinfo *list) const noexcept { ::freeaddrinfo(list); }
};

std::optional<std::uint32_t> by_name(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<addrinfo, AddrInfoFree> list(found);
    for (const addrinfo *entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            return reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr;
        }
    }
    return std::nullopt;
}

bool has_reverse_name(std::uint32_t address)
{
    sockaddr_in query{};
    query.sin_family = AF_INET;
    query.sin_addr.s_addr = address;
    std::array<char, NI_MAXHOST> name{};
    return ::getnameinfo(reinterpret_cast<const sockaddr *>(&query), sizeof query, name.data(), name.size(), nullptr, 0,
                         NI_NAMEREQD) == 0;
}

}  // namespace

std::optional<HostAddress> find_host_address(const std::string &host)
{
    const char first = host.empty() ? '\0' : host[0];
    const std::uint32_t as_dotted = ::inet_addr(host.c_str());
    if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
        in_addr checked{};
        if (::inet_aton(host.c_str(), &checked) == 0) {
            // inet_addr's answer for text it cannot read, as for an IPv6 address.
            return HostAddress{as_dotted, "not a dotted IPv4 address, taken as one all the same: 255.255.255.255",
                               true};
        }
        return HostAddress{as_dotted, "taken as a dotted address, not looked up"};
    }
    if (const std::optional<std::uint32_t> found = by_name(host)) {
        return HostAddress{*found, "looked up by name"};
    }
    if (has_reverse_name(as_dotted)) {
        return HostAddress{as_dotted, "not found by name; its dotted form has a reverse name"};
    }
    return std::nullopt;
}

std::string dotted(std::uint32_t address)
{
    in_addr raw{};
    raw.s_addr = address;
    std::array<char, INET_ADDRSTRLEN> text{};
    return ::inet_ntop(AF_INET, &raw, text.data(), text.size()) != nullptr ? text.data() : "?";
}

}  // namespace dvkc::tool
