// The request text of an exchange, byte for byte:
//
//   POST http://HOSTPATH HTTP/1.0\r\n            (host, then the path as given)
//   Content-type: application/x-www-form-urlencoded\r\n
//   Content-length: N\r\n                        (N = body length argument + 18)
//   \r\n
//   DVKRequestXMLData=BODY                        (the body text up to its NUL)
//
// There is no Host header and nothing after the body. The body length
// argument only sets N; the text itself decides how much is copied, so a
// wrong length can never make the request overrun its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "interface/text_buffer.h"

namespace dvkc::transport {

inline constexpr std::string_view kFormFieldPrefix = "DVKRequestXMLData=";

struct RequestParts {
    std::string_view host;
    std::string_view url_path;
    std::int32_t body_len = 0;
    std::string_view body;
};

// The exact length of the request text (without a NUL).
std::size_t request_text_length(const RequestParts &parts) noexcept;

// Writes the request text into `out`; false when `out` is too small (never
// with a capacity of request_text_length()).
bool format_request(const RequestParts &parts, TextBuffer &out) noexcept;

}  // namespace dvkc::transport
