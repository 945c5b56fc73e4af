#include "batch/exchange_helper.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <optional>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <system_error>

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

ExchangeOutcome exchange_in_helper(const std::string &helper, const dvkc::Endpoint &endpoint, std::string_view envelope,
                                   const RunLimits &limits)
{
    ExchangeOutcome outcome;
    if (helper.empty()) {
        try {
            outcome.answer.assign(dvkc::exchange(endpoint, envelope).view());
            outcome.kind = ExchangeOutcome::Kind::answered;
        } catch (const dvkc::Error &e) {
            outcome.kind = ExchangeOutcome::Kind::failed;
            outcome.code = e.code();
        }
        return outcome;
    }
    ProcessResult run;
    try {
        run = run_process({helper, std::string(exchange_helper_flag), endpoint.host, std::to_string(endpoint.port),
                           endpoint.path, endpoint.trust_file},
                          envelope, true, limits);
    } catch (const std::system_error &e) {
        outcome.why = std::string("cannot start the exchange helper: ") + e.what();
        return outcome;
    }
    if (run.cancelled) {
        outcome.kind = ExchangeOutcome::Kind::cancelled;
        return outcome;
    }
    if (run.timed_out) {
        outcome.kind = ExchangeOutcome::Kind::timed_out;
        return outcome;
    }
    if (run.signal != 0) {
        outcome.why = "the exchange helper was killed by signal " + std::to_string(run.signal);
        return outcome;
    }
    const std::size_t line_end = run.out.find('\n');
    std::int32_t code = 0;
    const char *first = run.out.data();
    const char *last = first + (line_end == std::string::npos ? 0 : line_end);
    const auto [end, ec] = std::from_chars(first, last, code);
    if (run.exit_status != 0 || line_end == std::string::npos || ec != std::errc{} || end != last) {
        outcome.why = "the exchange helper failed (exit status " + std::to_string(run.exit_status) + ")";
        if (!run.err.empty()) {
            outcome.why += ": " + run.err.substr(0, run.err.find('\n'));
        }
        return outcome;
    }
    if (code != 0) {
        outcome.kind = ExchangeOutcome::Kind::failed;
        outcome.code = code;
        return outcome;
    }
    outcome.kind = ExchangeOutcome::Kind::answered;
    outcome.answer = run.out.substr(line_end + 1);
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
    const std::string_view port = argv[3];
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), endpoint.port);
    if (ec != std::errc{} || end != port.data() + port.size()) {
        return 2;
    }
    endpoint.path = argv[4];
    endpoint.trust_file = argv[5];
    const std::string envelope((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    std::string reply;
    try {
        const dvkc::Buffer answer = dvkc::exchange(endpoint, envelope);
        reply = "0\n";
        reply.append(answer.view());
    } catch (const dvkc::Error &e) {
        reply = std::to_string(e.code()) + "\n";
    }
    return write_all(STDOUT_FILENO, reply) ? 0 : 1;
}

}  // namespace dvkc::tool
