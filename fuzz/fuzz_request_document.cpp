// Builds request documents from arbitrary record tables and identity files.
// Input: seed modifier (int32), TotalCount (int16, at most 1100: four-digit IDs included), the
// identity file's contents (16-bit length and bytes), then the record bytes:
// each record's SN (17 bytes) and SSID (11 bytes) raw, so fields may lack a
// NUL; a table longer than the input is padded with 'x'.
// Properties: the stamps and the document are those built here independently;
// every Code becomes -1 and nothing else of the table changes.
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "dvkc.h"
#include "fuzz_input.h"

namespace {

using dvkc::fuzz::require;

// One identity file per fuzzing process, rewritten for every input and
// removed when the process ends.
const std::string &identity_path()
{
    static const std::string path = [] {
        const auto p = std::filesystem::temp_directory_path() / ("dvkc_fuzz_identity." + std::to_string(getpid()));
        std::atexit([] { std::remove(identity_path().c_str()); });
        return p.string();
    }();
    return path;
}

// A fixed-width field as the document must carry it: up to its NUL, or whole.
std::string field(const char *text, std::size_t width)
{
    return {text, static_cast<std::size_t>(std::find(text, text + width, '\0') - text)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dvkc::fuzz::Input input(data, size);
    const auto seed_modifier = input.integer<std::int32_t>();
    std::int32_t total = input.integer<std::int16_t>();
    if (total > 1100) {
        total %= 1101;
    }
    const std::string identity = input.run();
    require(static_cast<bool>(std::ofstream(identity_path(), std::ios::binary) << identity << std::flush));

    const std::size_t count = total > 0 ? static_cast<std::size_t>(total) : 0;
    // Exactly sized, so that ASan catches a read past the table.
    std::vector<QueryRecord> table(count);
    for (QueryRecord &record : table) {
        std::string raw = input.bytes(offsetof(QueryRecord, Code));  // SN and SSID
        raw.resize(offsetof(QueryRecord, Code), 'x');
        std::memcpy(&record, raw.data(), raw.size());
        record.Code = 12345;
    }
    const std::vector<QueryRecord> table_before = table;

    QueryContext ctx{};
    ctx.ErrID = 99;
    ctx.TotalCount = total;
    ctx.Records = table.empty() ? nullptr : table.data();

    std::int32_t out_len = -7;
    char *out = nullptr;
    require(iMake_DVKReqPKT(seed_modifier, identity_path().c_str(), &ctx, &out_len, &out) == DVKC_BUILD_OK);
    require(out != nullptr && out_len >= 0 && out[out_len] == '\0');
    const std::string document(out, static_cast<std::size_t>(out_len));
    vFreeData(out);

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    require(EVP_Digest(identity.data(), std::min<std::size_t>(identity.size(), 10240), digest, &digest_size, EVP_sha1(),
                       nullptr) == 1);
    char client_id[2 * EVP_MAX_MD_SIZE + 1];
    bin2hex(digest, static_cast<std::int32_t>(digest_size), client_id);
    require(ctx.ErrID == 0 && ctx.TotalCount == total && std::strcmp(ctx.ClientID, client_id) == 0);
    static const std::regex nonce_form("[0-9A-Za-z]{15}");
    static const std::regex time_form("[0-9]{14}");
    require(std::regex_match(ctx.Nonce, nonce_form) && std::regex_match(ctx.ReqTime, time_form));

    std::string expected = "<DVKReq><ClientID>" + std::string(ctx.ClientID) + "</ClientID><Nonce>" +
                           std::string(ctx.Nonce) + "</Nonce><ReqTime>" + std::string(ctx.ReqTime) +
                           "</ReqTime><TotalCount>" + std::to_string(total) + "</TotalCount>";
    for (std::size_t i = 0; i < count; ++i) {
        const QueryRecord &before = table_before[i];
        expected += "<Rec><ID>" + std::to_string(i) + "</ID><SN>" + field(before.SN, DVKC_SN_MAX) + "</SN><SSID>" +
                    field(before.SSID, DVKC_SSID_MAX) + "</SSID></Rec>";
        require(table[i].Code == -1 && std::memcmp(&table[i], &before, offsetof(QueryRecord, Code)) == 0);
    }
    require(document == expected + "</DVKReq>");
    return 0;
}
