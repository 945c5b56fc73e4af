#include "http_framing.h"

#include <charconv>

namespace dvkc::sample {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeadersEnd = "\r\n\r\n";

bool same_ignoring_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<std::size_t> header_end(std::string_view message)
{
    const std::size_t at = message.find(kHeadersEnd);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return at + kHeadersEnd.size();
}

std::optional<std::size_t> content_length(std::string_view headers)
{
    std::optional<std::size_t> found;
    while (!headers.empty()) {
        const std::size_t end = headers.find(kLineEnd);
        const std::string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + kLineEnd.size());
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !same_ignoring_case(line.substr(0, colon), "Content-length")) {
            continue;
        }
        const std::string_view value = trim_blanks(line.substr(colon + 1));
        std::size_t length = 0;
        const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (found || value.empty() || error != std::errc{} || rest != value.data() + value.size()) {
            return std::nullopt;  // repeated, empty, signed or not a number
        }
        found = length;
    }
    return found;
}

bool request_complete(std::string_view received)
{
    const std::optional<std::size_t> end = header_end(received);
    if (!end) {
        return false;
    }
    const std::optional<std::size_t> length = content_length(received.substr(0, *end));
    return received.size() - *end >= length.value_or(0);
}

std::optional<HttpRequestParts> split_request(std::string_view raw)
{
    const std::optional<std::size_t> end = header_end(raw);
    const std::size_t line_end = raw.find(kLineEnd);
    if (!end || line_end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view line = raw.substr(0, line_end);
    const std::size_t first_space = line.find(' ');
    const std::size_t last_space = line.rfind(' ');
    if (first_space == std::string_view::npos || first_space == 0 || last_space == first_space ||
        last_space + 1 == line.size()) {
        return std::nullopt;
    }
    HttpRequestParts parts;
    parts.method = line.substr(0, first_space);
    parts.target = line.substr(first_space + 1, last_space - first_space - 1);
    parts.version = line.substr(last_space + 1);
    parts.headers = raw.substr(line_end + kLineEnd.size(), *end - kLineEnd.size() - (line_end + kLineEnd.size()));
    parts.body = raw.substr(*end);
    if (parts.target.empty() || parts.target.find(' ') != std::string_view::npos) {
        return std::nullopt;
    }
    return parts;
}

std::string http_answer(int status, std::string_view reason, std::string_view body)
{
    std::string answer = "HTTP/1.0 " + std::to_string(status) + " ";
    answer.append(reason);
    answer += "\r\nContent-type: text/xml\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n";
    answer.append(body);
    return answer;
}

}  // namespace dvkc::sample
