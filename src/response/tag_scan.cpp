#include "response/tag_scan.h"

#include <cstddef>
#include <cstring>

namespace dvkc {
namespace {

// The number of characters a search may look at, given a limit.
std::size_t visible(std::int32_t limit) noexcept
{
    return limit > 0 ? static_cast<std::size_t>(limit) : SIZE_MAX;
}

// First occurrence of `tag` that lies entirely within text[0, room) and before
// the text's NUL. strstr stops at the first match or at the NUL, so a hit costs
// only the distance to it; a miss may look past `room`, but never past the NUL,
// and the parser misses at most a fixed number of times per answer.
const char *find_within(const char *text, std::size_t room, const char *tag) noexcept
{
    const char *at = std::strstr(text, tag);
    if (at == nullptr || static_cast<std::size_t>(at - text) + std::strlen(tag) > room) {
        return nullptr;  // any occurrence inside the room would have come first
    }
    return at;
}

}  // namespace

std::int32_t iGetTagText(const char *text, const char *open, const char *close, std::int32_t limit, char *out,
                         std::int32_t max_chars) noexcept
{
    out[0] = '\0';
    const std::size_t room = visible(limit);
    const char *open_at = find_within(text, room, open);
    if (open_at == nullptr) {
        return 0;
    }
    const char *start = open_at + std::strlen(open);
    const std::size_t used = static_cast<std::size_t>(start - text);
    const char *close_at = find_within(start, room - used, close);
    if (close_at == nullptr) {
        return 0;
    }
    std::size_t n = static_cast<std::size_t>(close_at - start);
    const std::size_t cap = max_chars > 0 ? static_cast<std::size_t>(max_chars) : 0;
    if (n > cap) {
        n = cap;
    }
    std::memcpy(out, start, n);
    out[n] = '\0';
    return static_cast<std::int32_t>(n);
}

const char *pFindTag(const char *text, const char *tag, std::int32_t limit) noexcept
{
    return find_within(text, visible(limit), tag);
}

const char *pSkipTag(const char *text, const char *tag, std::int32_t limit) noexcept
{
    const char *at = find_within(text, visible(limit), tag);
    return at == nullptr ? nullptr : at + std::strlen(tag);
}

}  // namespace dvkc
