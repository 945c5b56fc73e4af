// Reads a query as the service receives it: the form field DVKRequestXMLData
// holding "<DVKRequest><DVKReq>...</DVKReq><DVKReqLength>..</DVKReqLength>
// <Signature>..</Signature></DVKRequest>".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dvkc::sample {

struct DvkRequestRecord {
    std::string id;
    std::string sn;
    std::string ssid;
};

struct DvkRequest {
    std::string client_id;
    std::string nonce;
    std::string req_time;
    std::string total_count;                // as sent
    std::vector<DvkRequestRecord> records;  // in order of appearance
    std::string req_length;                 // DVKReqLength, as sent
    std::string signature;
};

// The text between "<name>" and the next "</name>" at or after `from`.
std::optional<std::string_view> element_text(std::string_view xml, std::string_view name, std::size_t from = 0);

// The value of the DVKRequestXMLData form field: the body after
// "DVKRequestXMLData=", up to the end of the received bytes.
std::optional<std::string_view> request_form_field(std::string_view raw_http);

// Parses a whole raw HTTP request. On failure returns nullopt and, when
// `why` is given, stores a short reason there (for a log line).
std::optional<DvkRequest> parse_dvk_request(std::string_view raw_http, std::string *why = nullptr);

}  // namespace dvkc::sample
