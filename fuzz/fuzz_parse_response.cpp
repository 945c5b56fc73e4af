// Feeds arbitrary answers to the parser against a context that expects a
// known ClientID and Nonce. Input: response length argument (int32),
// TotalCount (int8, at most 16), then the answer text.
// Properties: the result is one of the parser's; the answer is unchanged, and
// so is all but ErrID and the codes, which change only as the result allows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dvkc.h"
#include "fuzz_input.h"

namespace {

using dvkc::fuzz::require;

bool is_parse_result(std::int32_t result) noexcept
{
#define DVKC_FUZZ_IS_PARSE(call, name, value, words)                                                                   \
    if (DVKC_CALL_##call == DVKC_CALL_PARSE && result == (value))                                                      \
        return true;
    DVKC_RESULTS(DVKC_FUZZ_IS_PARSE)
#undef DVKC_FUZZ_IS_PARSE
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const auto length = input.integer<std::int32_t>();
    std::int32_t total = input.integer<std::int8_t>();
    if (total > 16) {
        total %= 17;
    }
    const std::vector<char> text = input.text(true);
    const std::vector<char> text_before = text;

    // The table, with a guard record on each side; every record, its Code
    // too, filled with its own letter.
    const std::size_t records = total > 0 ? static_cast<std::size_t>(total) : 0;
    std::vector<QueryRecord> table(records + 2);
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::memset(&table[i], 'a' + static_cast<int>(i % 26), sizeof(QueryRecord));
    }
    const std::vector<QueryRecord> table_before = table;

    QueryContext ctx{};
    std::strcpy(ctx.ClientID, "0123456789ABCDEF0123456789ABCDEF01234567");
    std::strcpy(ctx.Nonce, "abcDEF123456789");
    std::strcpy(ctx.ReqTime, "20261208193000");
    ctx.ErrID = 77;
    ctx.TotalCount = total;
    ctx.Records = table.data() + 1;
    const QueryContext ctx_before = ctx;

    const std::int32_t result = iParse_DVKResponsePKT(&ctx, length, text.data());

    require(text == text_before);
    require(is_parse_result(result));
    // Only ErrID and the table's codes may change.
    require(std::memcmp(&ctx, &ctx_before, offsetof(QueryContext, ErrID)) == 0);  // ClientID, Nonce, ReqTime
    require(ctx.TotalCount == ctx_before.TotalCount && ctx.Records == ctx_before.Records);
    for (std::size_t i = 0; i < table.size(); ++i) {
        QueryRecord masked = table[i];
        if (i != 0 && i != records + 1) {
            masked.Code = table_before[i].Code;
        }
        require(std::memcmp(&masked, &table_before[i], sizeof(QueryRecord)) == 0);
    }
    const bool codes_untouched =
        std::memcmp(table.data(), table_before.data(), table.size() * sizeof(QueryRecord)) == 0;
    if (result == DVKC_PARSE_NOT_HTTP_200) {
        require(ctx.ErrID == ctx_before.ErrID && codes_untouched);
    } else if (result == DVKC_PARSE_SERVICE_ERROR) {
        require(codes_untouched);
    } else {
        require(ctx.ErrID == 0);
        if (result >= DVKC_PARSE_NO_RESPONSE && result <= DVKC_PARSE_TOTAL_COUNT_RANGE) {
            require(codes_untouched);
        }
    }
    return 0;
}
