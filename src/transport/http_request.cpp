#include "transport/http_request.h"

#include <charconv>

namespace dvkc::transport {
namespace {

constexpr std::string_view kRequestLineStart = "POST http://";
constexpr std::string_view kRequestLineEnd = " HTTP/1.0\r\n";
constexpr std::string_view kContentType = "Content-type: application/x-www-form-urlencoded\r\n";
constexpr std::string_view kContentLength = "Content-length: ";
constexpr std::string_view kHeadersEnd = "\r\n\r\n";

// The Content-length value: the body and the form field name before it.
std::int64_t content_length(std::int32_t body_len) noexcept
{
    return std::int64_t{body_len} + static_cast<std::int64_t>(kFormFieldPrefix.size());
}

}  // namespace

std::size_t request_text_length(const RequestParts &parts) noexcept
{
    return kRequestLineStart.size() + parts.host.size() + parts.url_path.size() + kRequestLineEnd.size() +
           kContentType.size() + kContentLength.size() + decimal_length(content_length(parts.body_len)) +
           kHeadersEnd.size() + kFormFieldPrefix.size() + parts.body.size();
}

bool format_request(const RequestParts &parts, TextBuffer &out) noexcept
{
    return out.append(kRequestLineStart) && out.append(parts.host) && out.append(parts.url_path) &&
           out.append(kRequestLineEnd) && out.append(kContentType) && out.append(kContentLength) &&
           out.append(content_length(parts.body_len)) && out.append(kHeadersEnd) && out.append(kFormFieldPrefix) &&
           out.append(parts.body);
}

}  // namespace dvkc::transport
