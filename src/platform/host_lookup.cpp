#include "platform/host_lookup.h"

#include "platform/name_lookup.h"

namespace dvkc::platform {
namespace {

bool starts_with_letter(const char *host) noexcept
{
    const char first = host[0];
    return (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
}

}  // namespace

bool find_ipv4_address(const char *host, std::uint32_t &address) noexcept
{
    if (!starts_with_letter(host)) {
        address = dotted_address(host);
        return true;
    }
    if (lookup_by_name(host, address)) {
        return true;
    }
    return lookup_by_address(dotted_address(host), address);
}

}  // namespace dvkc::platform
