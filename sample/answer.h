// What the sample service answers: it echoes the query's ClientID, Nonce and
// ReqTime and gives every record a code, from a table of codes or derived
// from its SN.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "dvk_request.h"

namespace dvkc::sample {

// SN -> Code, for the records whose code should not be default_code().
using CodeTable = std::map<std::string, std::int32_t, std::less<>>;

// The code of a record whose SN is not in the table: the sum of the SN's byte
// values modulo 1000 ("A1" gives 65 + 49 = 114).
std::int32_t default_code(std::string_view sn);

// "<DVKResponse><ClientID>..</ClientID><Nonce>..</Nonce><ReqTime>..</ReqTime>
// <TotalCount>n</TotalCount><Rec><ID>i</ID><SN>..</SN><SSID4>..</SSID4>
// <Code>c</Code></Rec>...</DVKResponse>", one Rec per query record, SSID4
// holding the first four bytes of the SSID.
std::string answer_body(const DvkRequest &request, const CodeTable &codes = {});

// What the sample service sends back for one raw HTTP request, and the
// log-line summary: "records=3 result=200 answered", "result=400 ...".
struct SampleAnswer {
    std::string http;
    std::string summary;
};
// Malformed queries get "HTTP/1.0 400 Bad Request"; with `error` every
// well-formed query is answered with that ErrID.
SampleAnswer answer_request(std::string_view raw_http, const CodeTable &codes, std::optional<std::int32_t> error);

}  // namespace dvkc::sample
