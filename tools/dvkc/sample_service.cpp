#include "sample_service.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <stdexcept>

#include "dvk_request.h"
#include "echo_answer.h"
#include "http_framing.h"
#include "tls_service.h"

namespace dvkc::tool {
namespace {

// The parser accepts at most this many records in one answer.
constexpr std::size_t max_records = 1000;

std::string answer_body(const dvkc::test::DvkRequest &request, const std::map<std::string, std::int32_t> &codes)
{
    std::string body = "<DVKResponse><ClientID>" + request.client_id + "</ClientID><Nonce>" + request.nonce +
                       "</Nonce><ReqTime>" + request.req_time + "</ReqTime><TotalCount>" +
                       std::to_string(request.records.size()) + "</TotalCount>";
    for (std::size_t i = 0; i < request.records.size(); ++i) {
        const dvkc::test::DvkRequestRecord &record = request.records[i];
        const auto found = codes.find(record.sn);
        const std::int32_t code = found != codes.end() ? found->second : default_code(record.sn);
        body += "<Rec><ID>" + std::to_string(i) + "</ID><SN>" + record.sn + "</SN><SSID4>" +
                record.ssid.substr(0, 4) + "</SSID4><Code>" + std::to_string(code) + "</Code></Rec>";
    }
    body += "</DVKResponse>";
    return body;
}

SampleAnswer bad_request(std::string why)
{
    return {dvkc::test::http_answer(400, "Bad Request", "<Error>" + why + "</Error>"),
            "result=400 malformed: " + why};
}

}  // namespace

std::int32_t default_code(std::string_view sn)
{
    return dvkc::test::code_for_serial(sn);
}

SampleAnswer answer_request(std::string_view raw_http, const std::map<std::string, std::int32_t> &codes,
                            std::optional<std::int32_t> error)
{
    const auto parts = dvkc::test::split_request(raw_http);
    if (!parts) {
        return bad_request("not an HTTP request");
    }
    if (parts->method != "POST") {
        return bad_request("method " + std::string(parts->method) + " is not POST");
    }
    std::string why;
    const auto request = dvkc::test::parse_dvk_request(raw_http, &why);
    if (!request) {
        return bad_request(why.empty() ? "not a query" : why);
    }
    const std::string records = "records=" + std::to_string(request->records.size()) + " ";
    if (request->total_count != std::to_string(request->records.size())) {
        return bad_request("TotalCount " + request->total_count + " but " + std::to_string(request->records.size()) +
                           " records");
    }
    if (request->records.empty() || request->records.size() > max_records) {
        return bad_request("a query holds 1 to 1000 records, not " + std::to_string(request->records.size()));
    }
    for (const dvkc::test::DvkRequestRecord &record : request->records) {
        if (record.sn.empty() || record.ssid.empty()) {
            return bad_request("a record with an empty SN or SSID");
        }
    }
    if (error) {
        return {dvkc::test::http_answer(200, "OK", "<DVKResponse><ErrID>" + std::to_string(*error) +
                                                       "</ErrID></DVKResponse>"),
                records + "result=200 ErrID " + std::to_string(*error)};
    }
    return {dvkc::test::http_answer(200, "OK", answer_body(*request, codes)), records + "result=200 answered"};
}

std::string utc_timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(millis));
    return out;
}

struct SampleService::State {
    SampleServiceOptions options;
    std::mutex log_mutex;
    std::unique_ptr<dvkc::test::TlsService> service;

    void log(std::string_view peer, std::string_view what)
    {
        if (!options.log) {
            return;
        }
        const std::string line = utc_timestamp() + " " + std::string(peer) + " " + std::string(what);
        const std::lock_guard lock(log_mutex);
        options.log(line);
    }
};

SampleService::SampleService(SampleServiceOptions options) : state_(std::make_unique<State>())
{
    state_->options = std::move(options);
    State *state = state_.get();
    dvkc::test::ServiceOptions service;
    service.identity = state->options.identity;
    service.bind_address = state->options.address;
    service.port = state->options.port;
    service.concurrent = true;
    service.record_requests = false;
    service.max_request_bytes = 4U << 20U;
    service.on_error = [state](std::string_view what) { state->log("-", "connection ended: " + std::string(what)); };
    state->service = std::make_unique<dvkc::test::TlsService>(
        std::move(service), [state](const dvkc::test::ServiceRequest &request) {
            SampleAnswer answer = answer_request(request.raw, state->options.codes, state->options.error);
            state->log(request.peer, answer.summary);
            return std::move(answer.http);
        });
}

SampleService::~SampleService()
{
    stop();
}

void SampleService::start()
{
    state_->service->start();
}

void SampleService::stop()
{
    state_->service->stop();
}

std::uint16_t SampleService::port() const noexcept
{
    return state_->service->port();
}

}  // namespace dvkc::tool
