// iMake_DVKReqPKT: stamps the context and builds the request document
//   <DVKReq><ClientID>..</ClientID><Nonce>..</Nonce><ReqTime>..</ReqTime>
//   <TotalCount>n</TotalCount><Rec><ID>i</ID><SN>..</SN><SSID>..</SSID></Rec>...</DVKReq>
// on one line, without escaping.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

#include "dvkc.h"
#include "interface/guard.h"
#include "interface/host_error_queue.h"
#include "interface/openssl_start.h"
#include "interface/text_buffer.h"
#include "platform/read_only_file.h"
#include "request/client_id.h"
#include "request/nonce.h"
#include "request/request_time.h"

namespace dvkc {
namespace {

struct FileCloser {
    // Read only: a failed close loses nothing.
    void operator()(std::FILE *f) const noexcept { static_cast<void>(std::fclose(f)); }
};

constexpr std::string_view kHeadOpen = "<DVKReq><ClientID>";
constexpr std::string_view kClientIdClose = "</ClientID><Nonce>";
constexpr std::string_view kNonceClose = "</Nonce><ReqTime>";
constexpr std::string_view kReqTimeClose = "</ReqTime><TotalCount>";
constexpr std::string_view kTotalCountClose = "</TotalCount>";
constexpr std::string_view kRecordOpen = "<Rec><ID>";
constexpr std::string_view kIdClose = "</ID><SN>";
constexpr std::string_view kSnClose = "</SN><SSID>";
constexpr std::string_view kRecordClose = "</SSID></Rec>";
constexpr std::string_view kDocumentClose = "</DVKReq>";

// A fixed-width field that the host may have left without a NUL.
std::string_view field(const char *text, std::size_t max_chars) noexcept
{
    return {text, strnlen(text, max_chars)};
}

// The total number of decimal digits of 0, 1, ..., count - 1.
std::size_t index_digits(std::size_t count) noexcept
{
    std::size_t digits = 0;
    std::size_t band_start = 0;
    std::size_t band_end = 10;
    for (std::size_t width = 1; band_start < count; ++width) {
        const std::size_t band_stop = count < band_end ? count : band_end;
        digits += (band_stop - band_start) * width;
        band_start = band_end;
        band_end = band_end > SIZE_MAX / 10 ? SIZE_MAX : band_end * 10;
    }
    return digits;
}

// The exact length of the document: its fixed texts, the numbers, and each
// record's SN and SSID as far as they will be copied.
std::size_t document_length(std::int32_t count, const QueryRecord *records, std::size_t record_count) noexcept
{
    std::size_t length = kHeadOpen.size() + DVKC_CLIENT_ID_LENGTH + kClientIdClose.size() + DVKC_NONCE_LENGTH +
                         kNonceClose.size() + DVKC_REQ_TIME_LENGTH + kReqTimeClose.size() + decimal_length(count) +
                         kTotalCountClose.size() + kDocumentClose.size();
    length += record_count * (kRecordOpen.size() + kIdClose.size() + kSnClose.size() + kRecordClose.size());
    length += index_digits(record_count);
    for (std::size_t i = 0; i < record_count; ++i) {
        length += strnlen(records[i].SN, DVKC_SN_MAX) + strnlen(records[i].SSID, DVKC_SSID_MAX);
    }
    return length;
}

std::int32_t make_request_document(std::int32_t seed_modifier, const char *identity_path, QueryContext *ctx,
                                   std::int32_t *out_len, char **out_buf) noexcept
{
    DVKC_REQUIRE_NONNULL(identity_path, DVKC_BUILD_IDENTITY_UNREADABLE);
    DVKC_REQUIRE_NONNULL(ctx, DVKC_BUILD_IDENTITY_UNREADABLE);
    DVKC_REQUIRE_NONNULL(out_len, DVKC_BUILD_IDENTITY_UNREADABLE);
    DVKC_REQUIRE_NONNULL(out_buf, DVKC_BUILD_IDENTITY_UNREADABLE);
    const std::int32_t count = ctx->TotalCount;
    if (count > 0 && ctx->Records == nullptr) {
        return DVKC_BUILD_IDENTITY_UNREADABLE;
    }

    if (!start_openssl(OpenSslPart::crypto)) {
        return DVKC_BUILD_IDENTITY_UNREADABLE;  // OpenSSL already cleaned up: no digest, nothing written
    }

    ctx->ErrID = 0;

    char client_id[DVKC_CLIENT_ID_LENGTH + 1];
    static_assert(sizeof client_id <= sizeof ctx->ClientID);
    {
        std::unique_ptr<std::FILE, FileCloser> file(platform::open_for_reading(identity_path));
        if (!file || !identity_client_id(file.get(), client_id)) {
            return DVKC_BUILD_IDENTITY_UNREADABLE;
        }
    }
    std::memcpy(ctx->ClientID, client_id, sizeof client_id);

    refresh_time_zone();
    char req_time[DVKC_REQ_TIME_LENGTH + 1];
    static_assert(sizeof req_time == sizeof ctx->ReqTime);
    format_request_time(std::time(nullptr), req_time);
    std::memcpy(ctx->ReqTime, req_time, sizeof req_time);

    char nonce[DVKC_NONCE_LENGTH + 1];
    static_assert(sizeof nonce == sizeof ctx->Nonce);
    make_nonce(nonce_seed(std::time(nullptr), seed_modifier), nonce);
    std::memcpy(ctx->Nonce, nonce, sizeof nonce);

    const std::size_t records = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t length = document_length(count, ctx->Records, records);
    if (length > INT32_MAX) {
        return DVKC_BUILD_NO_MEMORY;  // a document this long could not report its length
    }
    TextBuffer doc(length);
    if (!doc.ok()) {
        return DVKC_BUILD_NO_MEMORY;
    }

    doc.append(kHeadOpen);
    doc.append(std::string_view(client_id, DVKC_CLIENT_ID_LENGTH));
    doc.append(kClientIdClose);
    doc.append(std::string_view(nonce, DVKC_NONCE_LENGTH));
    doc.append(kNonceClose);
    doc.append(std::string_view(req_time, DVKC_REQ_TIME_LENGTH));
    doc.append(kReqTimeClose);
    doc.append(std::int64_t{count});
    doc.append(kTotalCountClose);
    for (std::size_t i = 0; i < records; ++i) {
        const QueryRecord &rec = ctx->Records[i];
        doc.append(kRecordOpen);
        doc.append(static_cast<std::int64_t>(i));
        doc.append(kIdClose);
        doc.append(field(rec.SN, DVKC_SN_MAX));
        doc.append(kSnClose);
        doc.append(field(rec.SSID, DVKC_SSID_MAX));
        doc.append(kRecordClose);
    }
    doc.append(kDocumentClose);
    if (doc.overflowed() || doc.size() != length) {
        return DVKC_BUILD_NO_MEMORY;  // the sizing above did not hold: hand out nothing
    }
    for (std::size_t i = 0; i < records; ++i) {
        ctx->Records[i].Code = -1;
    }

    *out_len = static_cast<std::int32_t>(doc.size());
    *out_buf = doc.release();
    return DVKC_BUILD_OK;
}

}  // namespace
}  // namespace dvkc

extern "C" int32_t iMake_DVKReqPKT(int32_t seed_modifier, const char *identity_path, QueryContext *ctx,
                                   int32_t *out_len, char **out_buf) noexcept
{
    const dvkc::HostErrorQueue host_errors;
    return dvkc::make_request_document(seed_modifier, identity_path, ctx, out_len, out_buf);
}
