#include "response/tag_scan.h"

#include <cstddef>
#include <cstring>
#include <string_view>

namespace dvkc {
namespace {

// The number of characters a search may look at, given a limit.
std::size_t visible(std::int32_t limit) noexcept
{
    return limit > 0 ? static_cast<std::size_t>(limit) : SIZE_MAX;
}

// First occurrence of `tag` that lies entirely within text[0, room) and before
// the text's NUL. Without a limit, strstr: a hit costs the distance to it.
// With one, the text is taken in growing windows (strnlen, then a search over
// the window plus the tail of the previous one), so a hit costs about the
// distance to it, a miss at most the room, and nothing past the room or the
// NUL is ever read.
const char *find_within(const char *text, std::size_t room, const char *tag) noexcept
{
    if (room == SIZE_MAX) {
        return std::strstr(text, tag);
    }
    const std::size_t tag_len = std::strlen(tag);
    if (tag_len == 0) {
        return text;
    }
    std::size_t window = 128;
    std::size_t scanned = 0;  // text[0, scanned) is known to hold no NUL
    while (scanned < room) {
        const std::size_t want = room - scanned < window ? room - scanned : window;
        const std::size_t got = strnlen(text + scanned, want);
        // An occurrence may start in the previous window's last tag_len - 1 characters.
        const std::size_t from = scanned >= tag_len - 1 ? scanned - (tag_len - 1) : 0;
        scanned += got;
        if (scanned - from >= tag_len) {
            const std::string_view seen(text + from, scanned - from);
            const std::size_t hit = seen.find(std::string_view(tag, tag_len));
            if (hit != std::string_view::npos) {
                return text + from + hit;
            }
        }
        if (got < want) {
            return nullptr;  // reached the NUL
        }
        if (window < 65536) {
            window *= 2;
        }
    }
    return nullptr;
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
