// Runs the three tag primitives over arbitrary text, tags and limits, and
// compares each with a plain reference: the first `open` in the visible text,
// then the first `close` after it, content cut to max_chars.
// Input: limit (int32), max_chars (int8), open tag and close tag (each a
// 16-bit length and bytes), then the text. Tags and text end at their first
// NUL, as a C caller's would.
// Properties: results equal the reference; the text is byte-identical; the
// output holds the result's characters and a NUL, and nothing is written past
// max_chars + 1 bytes (ASan: the output is exactly that size).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "response/tag_scan.h"

namespace {

using dvkc::fuzz::require;

struct Expected {
    std::size_t open = std::string_view::npos;  // position of the open tag
    std::size_t content = 0;                    // characters kept (0 when absent)
};

Expected reference(std::string_view text, std::string_view open, std::string_view close, std::int32_t limit,
                   std::int32_t max_chars)
{
    if (limit > 0 && static_cast<std::size_t>(limit) < text.size()) {
        text = text.substr(0, static_cast<std::size_t>(limit));
    }
    Expected expected;
    expected.open = text.find(open);
    if (expected.open == std::string_view::npos) {
        return expected;
    }
    const std::size_t start = expected.open + open.size();
    const std::size_t close_at = text.find(close, start);
    if (close_at == std::string_view::npos) {
        return expected;
    }
    const std::size_t cap = max_chars > 0 ? static_cast<std::size_t>(max_chars) : 0;
    expected.content = close_at - start < cap ? close_at - start : cap;
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const auto limit = input.integer<std::int32_t>();
    const std::int32_t max_chars = input.integer<std::int8_t>();
    const std::string open = input.text(false).data();
    const std::string close = input.text(false).data();
    const std::vector<char> text = input.text(true);
    const std::vector<char> before = text;
    const std::string_view visible(text.data());

    const Expected expected = reference(visible, open, close, limit, max_chars);
    std::vector<char> out(static_cast<std::size_t>(max_chars > 0 ? max_chars : 0) + 1, '#');
    const std::int32_t got = dvkc::iGetTagText(text.data(), open.c_str(), close.c_str(), limit, out.data(), max_chars);
    require(text == before);
    require(got >= 0 && static_cast<std::size_t>(got) == expected.content);
    require(out[static_cast<std::size_t>(got)] == '\0');
    if (got > 0) {
        const std::size_t start = expected.open + open.size();
        require(std::memcmp(out.data(), text.data() + start, static_cast<std::size_t>(got)) == 0);
    }

    const char *found = dvkc::pFindTag(text.data(), open.c_str(), limit);
    const char *skipped = dvkc::pSkipTag(text.data(), open.c_str(), limit);
    require(text == before);
    if (expected.open == std::string_view::npos) {
        require(found == nullptr && skipped == nullptr);
    } else {
        require(found == text.data() + expected.open);
        require(skipped == found + open.size());
    }
    return 0;
}
