// The answer of a well-behaved service: it echoes the request's ClientID,
// Nonce and ReqTime and gives every record a code derived from its SN.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dvk_request.h"
#include "tls_service.h"

namespace dvkc::test {

// The code the echo service gives a record: the sum of its SN's byte values
// modulo 1000 ("A1" -> 65 + 49 = 114).
std::int32_t code_for_serial(std::string_view sn);

// "<DVKResponse><ClientID>..</ClientID><Nonce>..</Nonce><ReqTime>..</ReqTime>
// <TotalCount>n</TotalCount><Rec><ID>i</ID><SN>..</SN><SSID4>..</SSID4>
// <Code>c</Code></Rec>...</DVKResponse>", one Rec per request record, SSID4
// holding the first four characters of the SSID.
std::string echo_answer_body(const DvkRequest &request);

// The whole answer: an HTTP/1.0 200 status line, headers and the body above.
std::string echo_answer(const DvkRequest &request);

// Answers every well-formed query with echo_answer() and anything else with
// "HTTP/1.0 400 Bad Request".
Handler echo_handler();

}  // namespace dvkc::test
