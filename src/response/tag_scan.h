// Bounded tag extraction over a NUL-terminated text.
//
// A limit L confines a search to the first L characters when 0 < L < the
// text's length; otherwise the whole text is searched. The searches stop at
// the text's NUL and at the limit, whichever comes first, and never modify
// the text. Tags are matched byte for byte as plain substrings.
#pragma once

#include <cstdint>

namespace dvkc {

// Copies the text between the first `open` tag and the first `close` tag
// after it (both within the limit) into out, cut to at most max_chars
// characters, NUL-terminated; out must hold max_chars + 1 bytes.
// Returns the number of characters copied; 0 when absent or empty.
std::int32_t iGetTagText(const char *text, const char *open, const char *close, std::int32_t limit, char *out,
                         std::int32_t max_chars) noexcept;

// Returns the position of the first occurrence of `tag` within the limit, or nullptr.
const char *pFindTag(const char *text, const char *tag, std::int32_t limit) noexcept;

// Returns the position just after the first occurrence of `tag` within the limit, or nullptr.
const char *pSkipTag(const char *text, const char *tag, std::int32_t limit) noexcept;

}  // namespace dvkc
