#include "answer.h"

#include "dvkc.h"
#include "http_framing.h"

namespace dvkc::sample {
namespace {

// The parser accepts at most this many records in one answer.
constexpr std::size_t max_records = DVKC_MAX_RECORDS;

SampleAnswer bad_request(std::string why)
{
    return {http_answer(400, "Bad Request", "<Error>" + why + "</Error>"), "result=400 malformed: " + why};
}

}  // namespace

std::int32_t default_code(std::string_view sn)
{
    std::int32_t sum = 0;
    for (const char c : sn) {
        sum += static_cast<unsigned char>(c);
    }
    return sum % 1000;
}

std::string answer_body(const DvkRequest &request, const CodeTable &codes)
{
    std::string body = "<DVKResponse><ClientID>" + request.client_id + "</ClientID><Nonce>" + request.nonce +
                       "</Nonce><ReqTime>" + request.req_time + "</ReqTime><TotalCount>" +
                       std::to_string(request.records.size()) + "</TotalCount>";
    for (std::size_t i = 0; i < request.records.size(); ++i) {
        const DvkRequestRecord &record = request.records[i];
        const auto found = codes.find(record.sn);
        const std::int32_t code = found != codes.end() ? found->second : default_code(record.sn);
        body += "<Rec><ID>" + std::to_string(i) + "</ID><SN>" + record.sn + "</SN><SSID4>" + record.ssid.substr(0, 4) +
                "</SSID4><Code>" + std::to_string(code) + "</Code></Rec>";
    }
    body += "</DVKResponse>";
    return body;
}

SampleAnswer answer_request(std::string_view raw_http, const CodeTable &codes, std::optional<std::int32_t> error)
{
    const auto parts = split_request(raw_http);
    if (!parts) {
        return bad_request("not an HTTP request");
    }
    if (parts->method != "POST") {
        return bad_request("method " + std::string(parts->method) + " is not POST");
    }
    std::string why;
    const auto request = parse_dvk_request(raw_http, &why);
    if (!request) {
        return bad_request(why.empty() ? "not a query" : why);
    }
    const std::string records = "records=" + std::to_string(request->records.size()) + " ";
    if (request->total_count != std::to_string(request->records.size())) {
        return bad_request("TotalCount " + request->total_count + " but " + std::to_string(request->records.size()) +
                           " records");
    }
    if (request->records.empty() || request->records.size() > max_records) {
        return bad_request("a query holds 1 to " + std::to_string(max_records) + " records, not " +
                           std::to_string(request->records.size()));
    }
    for (const DvkRequestRecord &record : request->records) {
        if (record.sn.empty() || record.ssid.empty()) {
            return bad_request("a record with an empty SN or SSID");
        }
    }
    if (error) {
        return {http_answer(200, "OK", "<DVKResponse><ErrID>" + std::to_string(*error) + "</ErrID></DVKResponse>"),
                records + "result=200 ErrID " + std::to_string(*error)};
    }
    return {http_answer(200, "OK", answer_body(*request, codes)), records + "result=200 answered"};
}

}  // namespace dvkc::sample
