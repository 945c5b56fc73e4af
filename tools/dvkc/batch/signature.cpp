#include "batch/signature.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "batch/sign_guard.h"
#include "common/subprocess.h"

namespace dvkc::tool {

std::string_view strip_line_end(std::string_view text) noexcept
{
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
    }
    return text;
}

SignatureSource SignatureSource::from_text(std::string text)
{
    if (text.empty()) {
        throw SignatureError("the signature is empty");
    }
    return {Kind::text, std::move(text)};
}

SignatureSource SignatureSource::from_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw SignatureError("cannot read the signature file " + path);
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw SignatureError("cannot read the signature file " + path);
    }
    if (content.find('\0') != std::string::npos) {
        throw SignatureError("the signature file " + path + " holds a NUL byte");
    }
    std::string signature(strip_line_end(content));
    if (signature.empty()) {
        throw SignatureError("the signature file " + path + " is empty");
    }
    return {Kind::file, std::move(signature)};
}

SignatureSource SignatureSource::from_command(std::string command, std::chrono::seconds timeout, std::string guard)
{
    return {Kind::command, std::move(command), timeout, std::move(guard)};
}

std::string SignatureSource::sign(std::string_view document, int cancel_fd) const
{
    if (kind_ != Kind::command) {
        return value_;
    }
    ProcessResult result;
    try {
        const RunLimits limits{timeout_, cancel_fd};
        result = guard_.empty() ? run_shell(value_, document, false, limits)
                                : run_process({guard_, std::string(sign_guard_flag), value_}, document, false, limits);
    } catch (const std::system_error &e) {
        throw SignatureError(std::string("the sign command cannot be started: ") + e.what());
    }
    if (result.cancelled) {
        throw SignatureError("the sign command was stopped (interrupted)");
    }
    if (result.timed_out) {
        throw SignatureError("the sign command timed out after " + std::to_string(timeout_.count()) + " s");
    }
    if (result.signal != 0) {
        throw SignatureError("the sign command was killed by signal " + std::to_string(result.signal));
    }
    if (result.exit_status != 0) {
        throw SignatureError("the sign command exited with status " + std::to_string(result.exit_status));
    }
    if (result.out.find('\0') != std::string::npos) {
        throw SignatureError("the sign command printed a NUL byte");
    }
    const std::string_view signature = strip_line_end(result.out);
    if (signature.empty()) {
        throw SignatureError("the sign command printed nothing");
    }
    return std::string(signature);
}

}  // namespace dvkc::tool
