#include "dvk_request.h"

#include "http_framing.h"

namespace dvkc::sample {
namespace {

constexpr std::string_view kFormField = "DVKRequestXMLData=";

bool fail(std::string *why, std::string reason)
{
    if (why != nullptr) {
        *why = std::move(reason);
    }
    return false;
}

}  // namespace

std::optional<std::string_view> element_text(std::string_view xml, std::string_view name, std::size_t from)
{
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t start = xml.find(open, from);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t text = start + open.size();
    const std::size_t end = xml.find(close, text);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return xml.substr(text, end - text);
}

std::optional<std::string_view> request_form_field(std::string_view raw_http)
{
    const std::optional<HttpRequestParts> parts = split_request(raw_http);
    if (!parts || parts->body.substr(0, kFormField.size()) != kFormField) {
        return std::nullopt;
    }
    return parts->body.substr(kFormField.size());
}

std::optional<DvkRequest> parse_dvk_request(std::string_view raw_http, std::string *why)
{
    const std::optional<HttpRequestParts> parts = split_request(raw_http);
    if (!parts) {
        fail(why, "not an HTTP request");
        return std::nullopt;
    }
    if (parts->method != "POST") {
        fail(why, "not a POST");
        return std::nullopt;
    }
    const std::optional<std::string_view> field = request_form_field(raw_http);
    if (!field) {
        fail(why, "no DVKRequestXMLData form field");
        return std::nullopt;
    }
    const std::optional<std::string_view> envelope = element_text(*field, "DVKRequest");
    if (!envelope) {
        fail(why, "no DVKRequest element");
        return std::nullopt;
    }
    const std::optional<std::string_view> document = element_text(*envelope, "DVKReq");
    if (!document) {
        fail(why, "no DVKReq element");
        return std::nullopt;
    }

    DvkRequest request;
    const auto take = [&](std::string_view xml, const char *name, std::string &into) {
        const std::optional<std::string_view> text = element_text(xml, name);
        if (!text) {
            return fail(why, std::string("no ") + name + " element");
        }
        into = *text;
        return true;
    };
    if (!take(*document, "ClientID", request.client_id) || !take(*document, "Nonce", request.nonce) ||
        !take(*document, "ReqTime", request.req_time) || !take(*document, "TotalCount", request.total_count) ||
        !take(*envelope, "DVKReqLength", request.req_length) || !take(*envelope, "Signature", request.signature)) {
        return std::nullopt;
    }

    std::size_t from = 0;
    while (const std::optional<std::string_view> record = element_text(*document, "Rec", from)) {
        DvkRequestRecord entry;
        if (!take(*record, "ID", entry.id) || !take(*record, "SN", entry.sn) || !take(*record, "SSID", entry.ssid)) {
            return std::nullopt;
        }
        request.records.push_back(std::move(entry));
        from = static_cast<std::size_t>(record->data() + record->size() - document->data());
    }
    return request;
}

}  // namespace dvkc::sample
