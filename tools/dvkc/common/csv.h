// CSV input of the tool: one record per line, fields separated by commas,
// optionally in double quotes ("" inside quotes is a quote). Blank lines are
// skipped; an optional first line naming the columns is a header.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace dvkc::tool {

// One line split into fields, or the reason it cannot be.
struct CsvLine {
    std::vector<std::string> fields;
    std::string error;  // empty when the line was split
};

// Splits one line (without its line end; a trailing CR is dropped).
// Spaces around a field are not part of it; inside quotes they are.
CsvLine split_csv_line(std::string_view line);

// A line that was rejected, numbered from 1.
struct LineError {
    std::size_t line = 0;
    std::string message;
};

// One record of the query input and the line it came from.
struct InputRecord {
    std::string sn;
    std::string ssid;
    std::size_t line = 0;
};

// The longest line read; a longer one is refused as soon as it is seen,
// without keeping it.
inline constexpr std::size_t max_line_bytes = 4096;

// Non-blank lines one at a time, numbered from 1, a byte-order mark at the
// start skipped, a line longer than max_line_bytes skipped and reported.
class LineReader {
public:
    explicit LineReader(std::istream &in) : in_(in) {}
    // The next non-blank line (true), or false at the end. `too_long` is
    // set instead when the line was longer than max_line_bytes.
    bool next(std::string &line, std::size_t &number, bool &too_long);

private:
    std::istream &in_;
    std::size_t number_ = 0;
};

// Reads `SN,SSID` lines one record at a time. A record is rejected with its
// line number when a line is longer than max_line_bytes, does not hold
// exactly two fields, a quote is unbalanced, SN is empty or longer than
// DVKC_SN_MAX bytes, SSID is empty or longer than DVKC_SSID_MAX bytes, a field
// is not valid UTF-8, or it holds a comma, a quote, a control character, '<',
// '>' or '&' (none of which a record can carry). A first line "SN,SSID" (any
// case) is a header.
class RecordReader {
public:
    explicit RecordReader(std::istream &in) : lines_(in) {}
    enum class Step { record, rejected, end };
    // The next record, or the next rejected line, or the end.
    Step next(InputRecord &record, LineError &rejected);

private:
    LineReader lines_;
    bool first_ = true;
    std::string line_;
};

// One entry of the sample service's codes file.
struct CodeEntry {
    std::string sn;
    int code = 0;
    std::size_t line = 0;
};

struct CodesFile {
    std::vector<CodeEntry> entries;
    std::vector<LineError> errors;
};

// Reads `SN,Code` lines (Code a decimal 32-bit integer, optional header
// "SN,Code").
CodesFile read_codes(std::istream &in);

// "line 7: SN is longer than 16 bytes (17)"
std::string format_line_error(const LineError &error);

}  // namespace dvkc::tool
