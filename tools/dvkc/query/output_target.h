// Where the query's output goes: standard output; a device, a FIFO or one of
// our own descriptors (/dev/stdout), written directly; or a regular file
// (through any symbolic links), replaced at the end by a temporary file
// beside it that takes the old file's mode.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

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
    // True when a file is replaced at commit() (false: written as it goes).
    bool replaces() const noexcept { return !temp_.empty(); }
    // True when the output goes to a terminal.
    bool terminal() const noexcept { return terminal_; }

    // Writes `text`; false (and error() says why) on failure.
    bool write(std::string_view text);

    // Puts the file in place; false on failure.
    bool commit();

    // Fails the output with `why` (what was to be written could not be made).
    void fail(const std::string &why);

private:
    void open_direct(const std::string &path);
    void open_replacement(const std::string &path);

    std::string name_;
    std::string final_;  // the regular file replaced at commit()
    std::string temp_;
    int fd_ = -1;
    std::ostream *stream_ = nullptr;
    bool terminal_ = false;
    std::string error_;
};

// A stream onto a target, written in blocks; it goes bad when a write fails
// (the target's error() says why).
class TargetBuffer : public std::streambuf {
public:
    explicit TargetBuffer(OutputTarget &target);
    TargetBuffer(const TargetBuffer &) = delete;
    TargetBuffer &operator=(const TargetBuffer &) = delete;
    ~TargetBuffer() override = default;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool write_block();

    OutputTarget &target_;
    std::vector<char> block_;
};

}  // namespace dvkc::tool
