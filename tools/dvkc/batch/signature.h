// Where the request signature comes from: a text, a file, or a command that
// reads the request document on its standard input.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dvkc::tool {

class SignatureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Removes one trailing line end (LF or CR LF).
std::string_view strip_line_end(std::string_view text) noexcept;

class SignatureSource {
public:
    enum class Kind { text, file, command };

    // Throws SignatureError for an empty text.
    static SignatureSource from_text(std::string text);
    // Reads the file now (one trailing line end removed); throws SignatureError,
    // also when nothing is left.
    static SignatureSource from_file(const std::string &path);
    // Each run is stopped after `timeout` (0: never). With `guard` (the
    // tool's own program) the command runs under a sign guard, which takes
    // it down when the tool dies.
    static SignatureSource from_command(std::string command, std::chrono::seconds timeout = {}, std::string guard = {});

    // The signature for `document`. A command is run through /bin/sh with the
    // document on its standard input; its standard output, one trailing line
    // end removed, is the signature. Throws SignatureError when the command
    // cannot start, fails, prints nothing or prints a NUL byte, runs out of
    // time, or is stopped because `cancel_fd` became readable.
    std::string sign(std::string_view document, int cancel_fd = -1) const;

private:
    SignatureSource(Kind kind, std::string value, std::chrono::seconds timeout = {}, std::string guard = {})
        : kind_(kind), value_(std::move(value)), timeout_(timeout), guard_(std::move(guard))
    {
    }

    Kind kind_;
    std::string value_;  // the text itself, or the command
    std::chrono::seconds timeout_{};
    std::string guard_;
};

}  // namespace dvkc::tool
