#include "echo_answer.h"

#include "http_framing.h"

namespace dvkc::test {

std::int32_t code_for_serial(std::string_view sn)
{
    std::int32_t sum = 0;
    for (const char c : sn) {
        sum += static_cast<unsigned char>(c);
    }
    return sum % 1000;
}

std::string echo_answer_body(const DvkRequest &request)
{
    std::string body = "<DVKResponse><ClientID>" + request.client_id + "</ClientID><Nonce>" + request.nonce +
                       "</Nonce><ReqTime>" + request.req_time + "</ReqTime><TotalCount>" +
                       std::to_string(request.records.size()) + "</TotalCount>";
    for (std::size_t i = 0; i < request.records.size(); ++i) {
        const DvkRequestRecord &record = request.records[i];
        body += "<Rec><ID>" + std::to_string(i) + "</ID><SN>" + record.sn + "</SN><SSID4>" + record.ssid.substr(0, 4) +
                "</SSID4><Code>" + std::to_string(code_for_serial(record.sn)) + "</Code></Rec>";
    }
    body += "</DVKResponse>";
    return body;
}

std::string echo_answer(const DvkRequest &request)
{
    return http_answer(200, "OK", echo_answer_body(request));
}

Handler echo_handler()
{
    return [](const ServiceRequest &incoming) {
        const std::optional<DvkRequest> request = parse_dvk_request(incoming.raw);
        return request ? echo_answer(*request) : http_answer(400, "Bad Request", "");
    };
}

}  // namespace dvkc::test
