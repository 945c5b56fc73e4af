// Runs the three tag primitives over arbitrary text, tags and limits, and
// compares each with a plain reference: the first `open` in the visible text,
// then the first `close` after it, content cut to max_chars.
// Input: limit (int32), max_chars (int8), open tag and close tag (each a
// 16-bit length and bytes), then the text. Tags and text end at their first
// NUL, as a C caller's would.
// Properties: results equal the reference's, the text is unchanged, and
// nothing is written past max_chars + 1 bytes (ASan: the output's size).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "response/tag_scan.h"

using dvkc::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const auto limit = input.integer<std::int32_t>();
    const std::int32_t max_chars = input.integer<std::int8_t>();
    const std::string open = input.text(false).data();
    const std::string close = input.text(false).data();
    const std::vector<char> text = input.text(true);
    const std::vector<char> before = text;

    // The reference: the first `open` in the visible text, the first `close` after it.
    std::string_view visible(text.data());
    if (limit > 0 && static_cast<std::size_t>(limit) < visible.size()) {
        visible = visible.substr(0, static_cast<std::size_t>(limit));
    }
    constexpr auto npos = std::string_view::npos;
    const std::size_t at = visible.find(open);
    const std::size_t start = at + open.size();
    const std::size_t close_at = at == npos ? npos : visible.find(close, start);
    const std::size_t cap = max_chars > 0 ? static_cast<std::size_t>(max_chars) : 0;
    const std::size_t content = close_at == npos ? 0 : std::min(close_at - start, cap);

    std::vector<char> out(cap + 1, '#');
    const std::int32_t got = dvkc::iGetTagText(text.data(), open.c_str(), close.c_str(), limit, out.data(), max_chars);
    require(text == before);
    require(got >= 0 && static_cast<std::size_t>(got) == content && out[content] == '\0');
    require(std::memcmp(out.data(), text.data() + (content > 0 ? start : 0), content) == 0);

    const char *found = dvkc::pFindTag(text.data(), open.c_str(), limit);
    const char *skipped = dvkc::pSkipTag(text.data(), open.c_str(), limit);
    require(text == before);
    if (at == npos) {
        require(found == nullptr && skipped == nullptr);
    } else {
        require(found == text.data() + at && skipped == found + open.size());
    }
    return 0;
}
