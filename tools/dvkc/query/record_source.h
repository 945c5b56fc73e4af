// The records of a query, read as a stream: a first pass checks every line
// and keeps only counts, widths and the first rejections; a second pass
// hands them out batch by batch. Standard input, a pipe or a FIFO is copied
// once to an unnamed file of our own, from which both passes read.
#pragma once

#include <cstddef>
#include <fstream>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/csv.h"
#include "common/input_file.h"

namespace dvkc::tool {

class RecordSource {
public:
    static constexpr std::size_t errors_kept = 20;

    // Reads `path` ("-": `in`) once, checking every line. Throws
    // std::runtime_error (InputFileError among them) when the file cannot be
    // read or copied.
    RecordSource(const std::string &path, std::istream &in);
    RecordSource(const RecordSource &) = delete;
    RecordSource &operator=(const RecordSource &) = delete;
    ~RecordSource() = default;

    std::size_t size() const noexcept { return records_; }
    std::size_t rejected() const noexcept { return rejected_; }
    const std::vector<LineError> &first_errors() const noexcept { return errors_; }
    std::size_t sn_width() const noexcept { return sn_width_; }
    std::size_t ssid_width() const noexcept { return ssid_width_; }

    // The next `count` records in input order (fewer at the end). Safe to
    // call from several threads; each call gets the records after the last.
    std::vector<InputRecord> next(std::size_t count);

private:
    void check(std::istream &in);

    InputFile file_;  // its path is what both passes open
    std::size_t records_ = 0;
    std::size_t rejected_ = 0;
    std::vector<LineError> errors_;
    std::size_t sn_width_ = 2;
    std::size_t ssid_width_ = 4;

    std::mutex mutex_;
    std::unique_ptr<std::ifstream> second_;
    std::unique_ptr<RecordReader> reader_;
};

}  // namespace dvkc::tool
