// Just enough HTTP/1.0 framing for the sample service: where a request's headers
// end, how long its body is, and an answer's status line and headers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dvkc::sample {

struct HttpRequestParts {
    std::string_view method;   // "POST"
    std::string_view target;   // as sent, e.g. "http://127.0.0.1/p"
    std::string_view version;  // "HTTP/1.0"
    std::string_view headers;  // the header lines, each ending in CR LF
    std::string_view body;     // everything after the empty line
};

// Offset just past the empty line that ends the headers, if it has arrived.
std::optional<std::size_t> header_end(std::string_view message);

// The value of the Content-length header (name in any case) when the headers
// carry exactly one such header holding a plain decimal number.
std::optional<std::size_t> content_length(std::string_view headers);

// True once `received` holds the headers and the Content-length bytes of body
// (no Content-length: no body). Bytes beyond that do not matter.
bool request_complete(std::string_view received);

// Splits a request into request line, headers and body; nullopt when the
// request line is not "METHOD TARGET VERSION" or the headers have not ended.
std::optional<HttpRequestParts> split_request(std::string_view raw);

// "HTTP/1.0 <status> <reason>" with Content-type text/xml and Content-length.
std::string http_answer(int status, std::string_view reason, std::string_view body);

}  // namespace dvkc::sample
