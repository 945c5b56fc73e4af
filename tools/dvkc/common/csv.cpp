#include "common/csv.h"

#include <charconv>
#include <limits>
#include <utility>
#include <map>
#include <string>

#include "dvkc.h"

namespace dvkc::tool {
namespace {

constexpr std::size_t max_sn = DVKC_SN_MAX;
constexpr std::size_t max_ssid = DVKC_SSID_MAX;
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Offset of the first byte that is not part of well-formed UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF), or npos.
std::size_t invalid_utf8_at(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (byte < 0x80) {
            ++i;
            continue;
        }
        if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 3;
            low = byte == 0xE0 ? 0xA0 : 0x80;
            high = byte == 0xED ? 0x9F : 0xBF;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            low = byte == 0xF0 ? 0x90 : 0x80;
            high = byte == 0xF4 ? 0x8F : 0xBF;
        } else {
            return i;
        }
        if (i + length > text.size()) {
            return i;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return i;
            }
        }
        i += length;
    }
    return std::string_view::npos;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

std::string field_name(std::size_t index)
{
    return "field " + std::to_string(index + 1);
}

// The quoted field starting at line[i] (its opening quote) into `field`;
// `i` ends after it and the blanks that follow. Returns why it is broken, or "".
std::string quoted_field(std::string_view line, std::size_t &i, std::size_t index, std::string &field)
{
    const std::size_t n = line.size();
    ++i;
    bool closed = false;
    while (i < n) {
        if (line[i] == '"') {
            if (i + 1 < n && line[i + 1] == '"') {
                field += '"';
                i += 2;
                continue;
            }
            ++i;
            closed = true;
            break;
        }
        field += line[i++];
    }
    if (!closed) {
        return "unterminated quote in " + field_name(index);
    }
    while (i < n && is_blank(line[i])) {
        ++i;
    }
    if (i < n && line[i] != ',') {
        return "text after the closing quote of " + field_name(index);
    }
    return {};
}

bool blank_line(std::string_view line)
{
    for (const char c : line) {
        if (!is_blank(c) && c != '\r') {
            return false;
        }
    }
    return true;
}

bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Why `value` cannot be carried as the named field, or an empty text.
std::string check_text(std::string_view name, std::string_view value, std::size_t max)
{
    if (value.empty()) {
        return std::string(name) + " is empty";
    }
    if (value.size() > max) {
        return std::string(name) + " is longer than " + std::to_string(max) + " bytes (" +
               std::to_string(value.size()) + ")";
    }
    if (const std::size_t at = invalid_utf8_at(value); at != std::string_view::npos) {
        return std::string(name) + " is not valid UTF-8 (byte " + std::to_string(at + 1) + ")";
    }
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ',') {
            return std::string(name) + " holds a comma";
        }
        if (c == '"') {
            return std::string(name) + " holds a quote";
        }
        if (byte < 0x20 || byte == 0x7f) {
            return std::string(name) + " holds a control character";
        }
        if (c == '<' || c == '>' || c == '&') {
            // Texts go into the XML unescaped: one would spoil its whole batch.
            return std::string(name) + " holds '" + std::string(1, c) + "', which the query cannot carry";
        }
    }
    return {};
}

// Calls `on_line(number, fields, first)` for every non-blank line that
// splits, and records the others as errors. `first` is true for the first
// non-blank line, so that the caller can recognise a header.
template <typename OnLine>
void for_each_line(std::istream &in, std::vector<LineError> &errors, OnLine on_line)
{
    LineReader lines(in);
    std::string line;
    std::size_t number = 0;
    bool too_long = false;
    bool first = true;
    while (lines.next(line, number, too_long)) {
        CsvLine split =
            too_long ? CsvLine{{}, "longer than " + std::to_string(max_line_bytes) + " bytes"} : split_csv_line(line);
        if (!split.error.empty()) {
            errors.push_back({number, split.error});
        } else {
            on_line(number, split.fields, first);
        }
        first = false;
    }
}

}  // namespace

CsvLine split_csv_line(std::string_view line)
{
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    CsvLine result;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        const std::size_t index = result.fields.size();
        while (i < n && is_blank(line[i])) {
            ++i;
        }
        std::string field;
        if (i < n && line[i] == '"') {
            if (std::string error = quoted_field(line, i, index, field); !error.empty()) {
                result.error = std::move(error);
                result.fields.clear();
                return result;
            }
        } else {
            const std::size_t start = i;
            while (i < n && line[i] != ',') {
                ++i;
            }
            std::string_view raw = line.substr(start, i - start);
            while (!raw.empty() && is_blank(raw.back())) {
                raw.remove_suffix(1);
            }
            if (raw.find('"') != std::string_view::npos) {
                result.error = "a quote inside the unquoted " + field_name(index);
                result.fields.clear();
                return result;
            }
            field.assign(raw);
        }
        result.fields.push_back(std::move(field));
        if (i < n && line[i] == ',') {
            ++i;
            continue;
        }
        return result;
    }
}

bool LineReader::next(std::string &line, std::size_t &number, bool &too_long)
{
    while (true) {
        // Up to max_line_bytes + 1 bytes: one more than allowed shows the line is too long.
        line.resize(max_line_bytes + 2);
        in_.getline(line.data(), static_cast<std::streamsize>(line.size()));
        const auto got = static_cast<std::size_t>(in_.gcount());
        const bool cut = in_.fail() && !in_.eof() && got > 0;  // the buffer filled before the line end
        if (got == 0 && !in_) {
            line.clear();
            return false;
        }
        const std::size_t length = cut || in_.eof() ? got : got - 1;  // without the line end
        too_long = cut || length > max_line_bytes;
        if (cut) {
            in_.clear();
            in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        in_.clear(in_.eof() ? std::ios::eofbit : std::ios::goodbit);
        number = ++number_;
        line.resize(too_long ? 0 : length);
        if (number == 1 && line.compare(0, byte_order_mark.size(), byte_order_mark) == 0) {
            line.erase(0, byte_order_mark.size());
        }
        if (too_long || !blank_line(line)) {
            return true;
        }
    }
}

RecordReader::Step RecordReader::next(InputRecord &record, LineError &rejected)
{
    std::size_t number = 0;
    bool too_long = false;
    while (lines_.next(line_, number, too_long)) {
        const bool first = std::exchange(first_, false);
        CsvLine split =
            too_long ? CsvLine{{}, "longer than " + std::to_string(max_line_bytes) + " bytes"} : split_csv_line(line_);
        std::string why = std::move(split.error);
        if (why.empty() && split.fields.size() != 2) {
            why = "expected 2 fields (SN,SSID), found " + std::to_string(split.fields.size());
        }
        if (why.empty() && first && equals_ignoring_case(split.fields[0], "SN") &&
            equals_ignoring_case(split.fields[1], "SSID")) {
            continue;
        }
        if (why.empty()) {
            why = check_text("SN", split.fields[0], max_sn);
        }
        if (why.empty()) {
            why = check_text("SSID", split.fields[1], max_ssid);
        }
        if (!why.empty()) {
            rejected = {number, std::move(why)};
            return Step::rejected;
        }
        record = {std::move(split.fields[0]), std::move(split.fields[1]), number};
        return Step::record;
    }
    return Step::end;
}

CodesFile read_codes(std::istream &in)
{
    CodesFile file;
    std::map<std::string, std::size_t> seen;
    for_each_line(in, file.errors, [&](std::size_t number, const std::vector<std::string> &fields, bool first) {
        if (fields.size() != 2) {
            file.errors.push_back({number, "expected 2 fields (SN,Code), found " + std::to_string(fields.size())});
            return;
        }
        if (first && equals_ignoring_case(fields[0], "SN") && equals_ignoring_case(fields[1], "Code")) {
            return;
        }
        if (std::string why = check_text("SN", fields[0], max_sn); !why.empty()) {
            file.errors.push_back({number, std::move(why)});
            return;
        }
        const std::string &text = fields[1];
        int code = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
        if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
            file.errors.push_back({number, "Code is not a 32-bit decimal integer: '" + text + "'"});
            return;
        }
        const auto [it, inserted] = seen.emplace(fields[0], number);
        if (!inserted) {
            file.errors.push_back(
                {number, "SN " + fields[0] + " was already given on line " + std::to_string(it->second)});
            return;
        }
        file.entries.push_back({fields[0], code, number});
    });
    return file;
}

std::string format_line_error(const LineError &error)
{
    return "line " + std::to_string(error.line) + ": " + error.message;
}

}  // namespace dvkc::tool
