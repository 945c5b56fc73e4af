// One record of an answer in its usual layout, read in a single pass:
//
//   <Rec><ID>i</ID><SN>s</SN><SSID4>x</SSID4><Code>c</Code></Rec>
//
// with non-empty values that hold no '<'. Every '<' from the "<Rec>" to the
// end of its "</Rec>" then starts one of these tags, so each tag found here is
// the first occurrence the general tag searches would find, and no "<Rec>"
// starts before the end of this record. A record that departs from the
// layout in any way is left to the general reading, which decides its result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "response/read_number.h"

namespace dvkc {

class UsualRecord {
public:
    // The record's text (after "<Rec>") is cut at this many characters before
    // its fields are sought; "</Rec>" must end within this many of "<Rec>".
    static constexpr std::size_t kTextChars = 100;
    static constexpr std::size_t kCloseWithin = 500;

    // `rec_at` points at "<Rec>" inside a text whose NUL is at `end`; nothing
    // at or past `end` is read. On success, `code` holds the record's Code and
    // `after` the position just past its "</Rec>".
    static bool read(const char *rec_at, const char *end, std::int32_t &code, const char *&after) noexcept
    {
        const char *const text = rec_at + kRec.size();
        const char *const fields_end = bounded(text, kTextChars, end);
        const char *p = text;
        std::string_view value;
        if (!field(p, fields_end, "<ID>", "</ID>", value) || !field(p, fields_end, "<SN>", "</SN>", value) ||
            !field(p, fields_end, "<SSID4>", "</SSID4>", value) || !field(p, fields_end, "<Code>", "</Code>", value)) {
            return false;
        }
        if (!(value[0] == '-' || (value[0] >= '0' && value[0] <= '9'))) {
            return false;
        }
        if (!starts_with(p, bounded(rec_at, kCloseWithin, end), kRecClose)) {
            return false;
        }
        char digits[kCodeChars + 1];
        const std::size_t kept = value.size() < kCodeChars ? value.size() : kCodeChars;
        std::memcpy(digits, value.data(), kept);
        digits[kept] = '\0';
        code = read_number(digits);
        after = p + kRecClose.size();
        return true;
    }

private:
    static constexpr std::string_view kRec = "<Rec>";
    static constexpr std::string_view kRecClose = "</Rec>";
    static constexpr std::size_t kCodeChars = 10;

    static const char *bounded(const char *from, std::size_t chars, const char *end) noexcept
    {
        return static_cast<std::size_t>(end - from) < chars ? end : from + chars;
    }

    static bool starts_with(const char *p, const char *limit, std::string_view tag) noexcept
    {
        return static_cast<std::size_t>(limit - p) >= tag.size() && std::memcmp(p, tag.data(), tag.size()) == 0;
    }

    // `open`, a non-empty value without '<', then `close`, all before `limit`;
    // advances `p` past `close`.
    static bool field(const char *&p, const char *limit, std::string_view open, std::string_view close,
                      std::string_view &value) noexcept
    {
        if (!starts_with(p, limit, open)) {
            return false;
        }
        const char *const start = p + open.size();
        const char *q = start;
        while (q < limit && *q != '<') {
            ++q;
        }
        if (q == start || !starts_with(q, limit, close)) {
            return false;
        }
        value = std::string_view(start, static_cast<std::size_t>(q - start));
        p = q + close.size();
        return true;
    }
};

}  // namespace dvkc
