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
#include "interface/text_buffer.h"
#include "platform/read_only_file.h"
#include "request/client_id.h"
#include "request/nonce.h"
#include "request/request_time.h"

namespace dvkc {
namespace {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};

// A record element takes at most 68 bytes plus its index digits (10): 100
// per record is ample. Headers and the closing tag take at most 178 bytes
// whatever TotalCount says, including a zero or negative count.
constexpr std::size_t kPerRecord = 100;
constexpr std::size_t kFixedPart = 256;

// A fixed-width field that the host may have left without a NUL.
std::string_view field(const char *text, std::size_t max_chars) noexcept
{
    return {text, strnlen(text, max_chars)};
}

std::int32_t make_request_document(std::int32_t seed_modifier, const char *identity_path, QueryContext *ctx,
                                   std::int32_t *out_len, char **out_buf) noexcept
{
    DVKC_REQUIRE_NONNULL(identity_path, -1);
    DVKC_REQUIRE_NONNULL(ctx, -1);
    DVKC_REQUIRE_NONNULL(out_len, -1);
    DVKC_REQUIRE_NONNULL(out_buf, -1);
    const std::int32_t count = ctx->TotalCount;
    if (count > 0 && ctx->Records == nullptr) {
        return -1;
    }

    ctx->ErrID = 0;

    char client_id[41];
    {
        std::unique_ptr<std::FILE, FileCloser> file(platform::open_for_reading(identity_path));
        if (!file || !identity_client_id(file.get(), client_id)) {
            return -1;
        }
    }
    std::memcpy(ctx->ClientID, client_id, sizeof client_id);

    refresh_time_zone();
    char req_time[15];
    format_request_time(std::time(nullptr), req_time);
    std::memcpy(ctx->ReqTime, req_time, sizeof req_time);

    char nonce[16];
    make_nonce(nonce_seed(std::time(nullptr), seed_modifier), nonce);
    std::memcpy(ctx->Nonce, nonce, sizeof nonce);

    const std::size_t records = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t capacity = kFixedPart + kPerRecord * records;
    if (capacity > INT32_MAX) {
        return -2;  // a document this long could not report its length
    }
    TextBuffer doc(capacity);
    if (!doc.ok()) {
        return -2;
    }

    doc.append("<DVKReq><ClientID>");
    doc.append(std::string_view(client_id, 40));
    doc.append("</ClientID><Nonce>");
    doc.append(std::string_view(nonce, 15));
    doc.append("</Nonce><ReqTime>");
    doc.append(std::string_view(req_time, 14));
    doc.append("</ReqTime><TotalCount>");
    doc.append(std::int64_t{count});
    doc.append("</TotalCount>");
    for (std::size_t i = 0; i < records; ++i) {
        QueryRecord &rec = ctx->Records[i];
        doc.append("<Rec><ID>");
        doc.append(static_cast<std::int64_t>(i));
        doc.append("</ID><SN>");
        doc.append(field(rec.SN, 16));
        doc.append("</SN><SSID>");
        doc.append(field(rec.SSID, 10));
        doc.append("</SSID></Rec>");
        rec.Code = -1;
    }
    doc.append("</DVKReq>");

    *out_len = static_cast<std::int32_t>(doc.size());
    *out_buf = doc.release();
    return 0;
}

}  // namespace
}  // namespace dvkc

extern "C" int32_t iMake_DVKReqPKT(int32_t seed_modifier, const char *identity_path, QueryContext *ctx,
                                   int32_t *out_len, char **out_buf) noexcept
{
    return dvkc::make_request_document(seed_modifier, identity_path, ctx, out_len, out_buf);
}
