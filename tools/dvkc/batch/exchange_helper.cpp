#include "batch/exchange_helper.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace dvkc::tool {
namespace {

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The value of the header `name` (lower case, with its colon) in `headers`.
std::optional<std::string_view> header_value(std::string_view headers, std::string_view name)
{
    for (std::size_t at = headers.find('\n'); at != std::string_view::npos; at = headers.find('\n', at + 1)) {
        const std::string_view line = headers.substr(at + 1, headers.find('\n', at + 1) - at - 1);
        if (line.size() < name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
        }
        if (same) {
            std::string_view value = line.substr(name.size());
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string incomplete_answer(std::string_view answer)
{
    if (answer.empty()) {
        return "the connection was closed without an answer";
    }
    if (answer.rfind("HTTP/", 0) != 0 || answer.find('\n') == std::string_view::npos) {
        return "the answer has no status line";
    }
    std::size_t body = answer.find("\r\n\r\n");
    body = body == std::string_view::npos ? answer.find("\n\n") : body;
    if (body == std::string_view::npos) {
        return "the answer was cut short in its headers";
    }
    const std::string_view headers = answer.substr(0, body);
    body += answer[body] == '\r' ? 4 : 2;
    if (const auto length = header_value(headers, "content-length:")) {
        std::size_t expected = 0;
        const auto [end, ec] = std::from_chars(length->data(), length->data() + length->size(), expected);
        if (ec == std::errc{} && answer.size() - body < expected) {
            return "the answer was cut short (" + std::to_string(answer.size() - body) + " of " +
                   std::to_string(expected) + " bytes of its body)";
        }
    }
    return {};
}

std::string own_program()
{
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path;
}

namespace {

// Longest header line of a request or a reply ("-2147483648 4294967295").
constexpr std::size_t longest_header = 32;
// Longest request a helper takes: the library's own bound on a body.
constexpr std::size_t longest_request = 0x7fffffff;

// The decimal number `text` is in whole, if it is one.
template <typename Number>
std::optional<Number> whole_number(std::string_view text)
{
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A helper's reply: "RESULT LENGTH\n" and LENGTH bytes of answer.
struct ReplyHeader {
    std::int32_t code = 0;
    std::size_t length = 0;  // of the answer
    std::size_t size = 0;    // of the header line, its newline included
};

// The header of the reply `text` begins with: nullopt while it is not all
// there, a size of 0 when it is malformed.
std::optional<ReplyHeader> reply_header(std::string_view text)
{
    const std::size_t line_end = text.substr(0, longest_header).find('\n');
    if (line_end == std::string_view::npos) {
        return text.size() < longest_header ? std::nullopt : std::optional<ReplyHeader>(ReplyHeader{});
    }
    const std::string_view line = text.substr(0, line_end);
    const std::size_t space = line.find(' ');
    const auto code = whole_number<std::int32_t>(line.substr(0, space));
    const auto length =
        space == std::string_view::npos ? std::nullopt : whole_number<std::size_t>(line.substr(space + 1));
    if (!code || !length || (*code != 0 && *length != 0)) {
        return ReplyHeader{};
    }
    return ReplyHeader{*code, *length, line_end + 1};
}

std::size_t whole_reply_length(std::string_view text)
{
    const std::optional<ReplyHeader> header = reply_header(text);
    if (!header) {
        return 0;
    }
    if (header->size == 0) {
        return std::string_view::npos;
    }
    return text.size() - header->size >= header->length ? header->size + header->length : 0;
}

// Why the helper ended before its reply.
std::string helper_ended(const ProcessResult &run)
{
    if (run.signal != 0) {
        return "the exchange helper was killed by signal " + std::to_string(run.signal);
    }
    std::string why = "the exchange helper failed (exit status " + std::to_string(run.exit_status) + ")";
    if (!run.err.empty()) {
        why += ": " + run.err.substr(0, run.err.find('\n'));
    }
    return why;
}

// Reads the helper's requests from standard input.
class RequestReader {
public:
    // The next envelope; nullopt at the end of the input. Throws
    // std::runtime_error when what comes is no request.
    std::optional<std::string> next()
    {
        std::size_t line_end = 0;
        while ((line_end = pending_.find('\n')) == std::string::npos) {
            if (pending_.size() >= longest_header) {
                throw std::runtime_error("the request's header is too long");
            }
            if (!fill()) {
                if (pending_.empty()) {
                    return std::nullopt;
                }
                throw std::runtime_error("the input ended inside a request's header");
            }
        }
        const auto length = whole_number<std::size_t>(std::string_view(pending_).substr(0, line_end));
        if (!length || *length > longest_request) {
            throw std::runtime_error("the request's header is no length");
        }
        pending_.erase(0, line_end + 1);
        while (pending_.size() < *length) {
            if (!fill()) {
                throw std::runtime_error("the input ended inside a request");
            }
        }
        std::string envelope = pending_.substr(0, *length);
        pending_.erase(0, *length);
        return envelope;
    }

private:
    bool fill()
    {
        char block[65536];
        while (true) {
            const ssize_t n = ::read(STDIN_FILENO, block, sizeof block);
            if (n > 0) {
                pending_.append(block, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0 || errno != EINTR) {
                return false;
            }
        }
    }

    std::string pending_;
};

}  // namespace

ExchangeHelper::ExchangeHelper(std::string program, dvkc::Endpoint endpoint)
    : program_(std::move(program)), endpoint_(std::move(endpoint))
{
}

ExchangeOutcome ExchangeHelper::exchange(std::string_view envelope, const RunLimits &limits)
{
    ExchangeOutcome outcome;
    if (program_.empty()) {
        try {
            outcome.answer.assign(dvkc::exchange(endpoint_, envelope).view());
            outcome.kind = ExchangeOutcome::Kind::answered;
        } catch (const dvkc::Error &e) {
            outcome.kind = ExchangeOutcome::Kind::failed;
            outcome.code = e.code();
        }
        return outcome;
    }
    // A helper that died while idle is replaced before anything is sent.
    if (process_ && !process_->running()) {
        process_.reset();
    }
    ProcessResult run;
    try {
        if (!process_) {
            process_.emplace(std::vector<std::string>{program_, std::string(exchange_helper_flag), endpoint_.host,
                                                      std::to_string(endpoint_.port), endpoint_.path,
                                                      endpoint_.trust_file});
        }
        std::string request = std::to_string(envelope.size()) + "\n";
        request.append(envelope);
        run = process_->converse(request, whole_reply_length, limits);
    } catch (const std::system_error &e) {
        process_.reset();
        outcome.why = std::string("cannot run the exchange helper: ") + e.what();
        return outcome;
    }
    if (run.cancelled || run.timed_out) {
        process_.reset();  // killed already; the next exchange starts another
        outcome.kind = run.cancelled ? ExchangeOutcome::Kind::cancelled : ExchangeOutcome::Kind::timed_out;
        return outcome;
    }
    if (!run.replied) {
        process_.reset();
        outcome.why = helper_ended(run);
        return outcome;
    }
    const std::optional<ReplyHeader> header = reply_header(run.out);
    if (!header || header->size == 0) {
        process_.reset();
        outcome.why = "the exchange helper's reply is malformed";
        return outcome;
    }
    if (header->code != 0) {
        outcome.kind = ExchangeOutcome::Kind::failed;
        outcome.code = header->code;
        return outcome;
    }
    outcome.kind = ExchangeOutcome::Kind::answered;
    outcome.answer = run.out.substr(header->size);
    return outcome;
}

int exchange_helper_main(int argc, char **argv)
{
    // Never outlive the tool that started us.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        return 1;
    }
    if (argc != 6) {
        static_cast<void>(std::fputs("dvkc: --exchange-helper is for the tool's own use\n", stderr));
        return 2;
    }
    dvkc::Endpoint endpoint;
    endpoint.host = argv[2];
    const auto port = whole_number<std::int32_t>(argv[3]);
    if (!port) {
        return 2;
    }
    endpoint.port = *port;
    endpoint.path = argv[4];
    endpoint.trust_file = argv[5];
    RequestReader requests;
    try {
        while (const std::optional<std::string> envelope = requests.next()) {
            std::string reply;
            try {
                const dvkc::Buffer answer = dvkc::exchange(endpoint, *envelope);
                reply = "0 " + std::to_string(answer.view().size()) + "\n";
                reply.append(answer.view());
            } catch (const dvkc::Error &e) {
                reply = std::to_string(e.code()) + " 0\n";
            }
            if (!write_all(STDOUT_FILENO, reply)) {
                return 1;
            }
        }
    } catch (const std::runtime_error &e) {
        static_cast<void>(std::fprintf(stderr, "dvkc: --exchange-helper: %s\n", e.what()));
        return 2;
    }
    return 0;
}

}  // namespace dvkc::tool
