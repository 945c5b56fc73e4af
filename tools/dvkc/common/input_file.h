// A file named on the command line, to be read as often as the tool needs.
// A regular file is read where it is. Anything else (standard input, a pipe
// such as <(cmd), a FIFO, a device) gives its bytes only once: it is opened
// once and read once into an unnamed file of our own, which stands in for
// it from then on.
#pragma once

#include <istream>
#include <limits>
#include <stdexcept>
#include <string>

namespace dvkc::tool {

// Why a file named on the command line cannot be used: "cannot read the
// records file r.csv: No such file or directory", "the trust file t is a
// directory".
class InputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class InputFile {
public:
    static constexpr unsigned long long whole = std::numeric_limits<unsigned long long>::max();

    // `path` ("-": `in`, when given) is named `what` in messages ("records
    // file"). Of a file that is copied at most `keep` bytes are kept (the
    // rest is not read). Throws InputFileError.
    InputFile(const std::string &path, const std::string &what, std::istream *in = nullptr,
              unsigned long long keep = whole);
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // A path that reads the whole file afresh, in this process and in the
    // child processes it starts (/proc/PID/fd/N for a copy).
    const std::string &path() const noexcept { return path_; }
    // True when the file was copied.
    bool copied() const noexcept { return copy_ >= 0; }
    // Its size in bytes now (0 when it cannot be told).
    unsigned long long size() const;

private:
    void adopt(int copy);

    std::string path_;
    int copy_ = -1;
};

}  // namespace dvkc::tool
