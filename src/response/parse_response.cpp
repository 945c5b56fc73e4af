// iParse_DVKResponsePKT: accepts an HTTP 200 answer, takes a service error
// number if there is one, else checks that the answer echoes our ClientID and
// Nonce and writes each returned record's Code into the table by position.
#include <cstddef>
#include <cstring>
#include <string_view>

#include "dvkc.h"
#include "interface/guard.h"
#include "response/read_number.h"
#include "response/tag_scan.h"
#include "response/usual_record.h"

namespace dvkc {
namespace {

constexpr std::int32_t kMinResponseLength = 20;
constexpr std::int32_t kMaxRecords = DVKC_MAX_RECORDS;
// A record: "</Rec>" within 500 characters of its "<Rec>", its text cut at
// 100 characters; the one-pass reading of the usual layout keeps the same.
constexpr auto kRecordSearchLimit = static_cast<std::int32_t>(UsualRecord::kCloseWithin);
constexpr auto kRecordChars = static_cast<std::int32_t>(UsualRecord::kTextChars);
constexpr std::int32_t kFieldChars = 100;

// "HTTP" in any case, then "200" starting somewhere at positions 4 to 17.
bool is_http_200(const char *response) noexcept
{
    const std::size_t len = strnlen(response, kMinResponseLength);
    if (len < 4) {
        return false;
    }
    static constexpr char kHttp[] = "HTTP";
    for (std::size_t i = 0; i < 4; ++i) {
        if ((response[i] & ~0x20) != kHttp[i]) {
            return false;
        }
    }
    for (std::size_t at = 4; at <= 17 && at + 3 <= len; ++at) {
        if (std::memcmp(response + at, "200", 3) == 0) {
            return true;
        }
    }
    return false;
}

// A context field that the host may have left without its NUL.
bool equals_field(const char *value, const char *field, std::size_t width) noexcept
{
    return std::string_view(value) == std::string_view(field, strnlen(field, width));
}

// Checks one record's text; returns 0 and its code, or the failure result.
std::int32_t read_record(const char *rec, std::int32_t &code) noexcept
{
    char id[5 + 1];
    char sn[16 + 1];
    char ssid4[4 + 1];
    char code_text[10 + 1];
    if (iGetTagText(rec, "<ID>", "</ID>", 0, id, 5) == 0) {
        return DVKC_PARSE_RECORD_NO_ID;
    }
    if (iGetTagText(rec, "<SN>", "</SN>", 0, sn, 16) == 0) {
        return DVKC_PARSE_RECORD_NO_SN;
    }
    if (iGetTagText(rec, "<SSID4>", "</SSID4>", 0, ssid4, 4) == 0) {
        return DVKC_PARSE_RECORD_NO_SSID4;
    }
    if (iGetTagText(rec, "<Code>", "</Code>", 0, code_text, 10) == 0) {
        return DVKC_PARSE_RECORD_NO_CODE;
    }
    if (!(code_text[0] == '-' || (code_text[0] >= '0' && code_text[0] <= '9'))) {
        return DVKC_PARSE_RECORD_BAD_CODE;
    }
    code = read_number(code_text);
    return 0;
}

std::int32_t parse_response(QueryContext *ctx, std::int32_t len, const char *response) noexcept
{
    DVKC_REQUIRE_NONNULL(ctx, DVKC_PARSE_NOT_HTTP_200);
    DVKC_REQUIRE_NONNULL(response, DVKC_PARSE_NOT_HTTP_200);
    if (ctx->TotalCount > 0 && ctx->Records == nullptr) {
        return DVKC_PARSE_NOT_HTTP_200;
    }
    if (len < kMinResponseLength || !is_http_200(response)) {
        return DVKC_PARSE_NOT_HTTP_200;
    }

    // Where the text ends, found once. A limit that does not cut the text
    // (L at least its length) is the same as none, and a search without one
    // is a plain substring search.
    const std::size_t seen = strnlen(response, static_cast<std::size_t>(len));
    const bool limit_cuts = seen == static_cast<std::size_t>(len) && response[len] != '\0';
    const char *const end = limit_cuts ? response + len + std::strlen(response + len) : response + seen;
    const std::int32_t limit = limit_cuts ? len : 0;

    char text[kFieldChars + 1];
    if (iGetTagText(response, "<ErrID>", "</ErrID>", limit, text, kFieldChars) > 0) {
        ctx->ErrID = read_number(text);
        return DVKC_PARSE_SERVICE_ERROR;
    }
    ctx->ErrID = 0;

    if (pFindTag(response, "<DVKResponse>", limit) == nullptr) {
        return DVKC_PARSE_NO_RESPONSE;
    }
    if (iGetTagText(response, "<ClientID>", "</ClientID>", limit, text, kFieldChars) == 0) {
        return DVKC_PARSE_CLIENT_ID_MISSING;
    }
    if (!equals_field(text, ctx->ClientID, sizeof ctx->ClientID)) {
        return DVKC_PARSE_CLIENT_ID_FOREIGN;
    }
    if (iGetTagText(response, "<Nonce>", "</Nonce>", limit, text, kFieldChars) == 0) {
        return DVKC_PARSE_NONCE_MISSING;
    }
    if (!equals_field(text, ctx->Nonce, sizeof ctx->Nonce)) {
        return DVKC_PARSE_NONCE_FOREIGN;
    }
    if (iGetTagText(response, "<ReqTime>", "</ReqTime>", limit, text, kFieldChars) == 0) {
        return DVKC_PARSE_REQ_TIME_MISSING;
    }
    if (iGetTagText(response, "<TotalCount>", "</TotalCount>", limit, text, kFieldChars) == 0) {
        return DVKC_PARSE_TOTAL_COUNT_MISSING;
    }
    if (text[0] < '0' || text[0] > '9') {
        return DVKC_PARSE_TOTAL_COUNT_NOT_NUMBER;
    }
    const std::int32_t count = read_number(text);
    // An answer naming more records than our table holds cannot be placed.
    if (count < 1 || count > kMaxRecords || count > ctx->TotalCount) {
        return DVKC_PARSE_TOTAL_COUNT_RANGE;
    }

    // Records follow the first </TotalCount>, which the extraction above
    // proved to lie within the limit; from there on the search is unlimited.
    const char *search = pSkipTag(response, "</TotalCount>", limit);
    for (std::int32_t i = 0; i < count; ++i) {
        const char *rec_at = static_cast<std::size_t>(end - search) >= 5 && std::memcmp(search, "<Rec>", 5) == 0
                                 ? search
                                 : pFindTag(search, "<Rec>", 0);
        if (rec_at == nullptr) {
            return DVKC_PARSE_TOO_FEW_RECORDS;
        }
        std::int32_t code = 0;
        const char *after = nullptr;
        if (UsualRecord::read(rec_at, end, code, after)) {
            ctx->Records[i].Code = code;
            search = after;  // no <Rec> starts inside a record of the usual layout
            continue;
        }
        char rec[kRecordChars + 1];
        if (iGetTagText(rec_at, "<Rec>", "</Rec>", kRecordSearchLimit, rec, kRecordChars) == 0) {
            return DVKC_PARSE_RECORD_UNCLOSED;
        }
        if (const std::int32_t failed = read_record(rec, code); failed != 0) {
            return failed;
        }
        ctx->Records[i].Code = code;
        search = rec_at + 1;  // a <Rec> inside this record starts the next one
    }
    return DVKC_PARSE_OK;
}

}  // namespace
}  // namespace dvkc

extern "C" int32_t iParse_DVKResponsePKT(QueryContext *ctx, int32_t response_len, const char *response) noexcept
{
    return dvkc::parse_response(ctx, response_len, response);
}
