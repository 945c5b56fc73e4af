// Where the query's output goes: the given stream, or a temporary file beside
// the named one that replaces it at the end (a device or a pipe is written
// to directly).
#pragma once

#include <fstream>
#include <ostream>
#include <string>
#include <string_view>

namespace dvkc::tool {

class OutputTarget {
public:
    // `file` empty or "-": `stream`. Check ok() afterwards.
    OutputTarget(const std::string &file, std::ostream &stream);
    OutputTarget(const OutputTarget &) = delete;
    OutputTarget &operator=(const OutputTarget &) = delete;
    ~OutputTarget();  // removes a temporary file not committed

    bool ok() const noexcept { return error_.empty(); }
    const std::string &error() const noexcept { return error_; }
    const std::string &name() const noexcept { return name_; }
    const std::string &temp() const noexcept { return temp_; }

    // Writes and flushes `text`; false (and error() says why) on failure.
    bool write(std::string_view text);

    // Puts the file in place; false on failure.
    bool commit();

private:
    std::string name_;
    std::string temp_;
    std::ofstream file_;
    std::ostream *out_ = nullptr;
    std::string error_;
};

}  // namespace dvkc::tool
