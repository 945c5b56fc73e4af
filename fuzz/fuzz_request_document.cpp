// Builds request documents from arbitrary record tables and identity files.
// Input: seed modifier (int32), TotalCount (int16, at most 1100: four-digit IDs included), the
// identity file's contents (16-bit length and bytes), then the record bytes:
// each record's SN (17 bytes) and SSID (11 bytes) raw, so fields may lack a
// NUL; a table longer than the input is padded with 'x'.
// Properties: the call succeeds; ClientID is the uppercase SHA-1 of the
// identity's first 10240 bytes; Nonce and ReqTime have their forms; the
// document equals one built here independently, holding exactly the table's
// records in order; every Code is -1 and nothing else of the table changed.
#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
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

void write_identity(const std::string &bytes)
{
    std::FILE *file = std::fopen(identity_path().c_str(), "wb");
    require(file != nullptr);
    require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    require(std::fclose(file) == 0);
}

std::string sha1_upper_hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    require(EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr) == 1);
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

// A fixed-width field as the document must carry it: up to its NUL, or whole.
std::string field(const char *text, std::size_t width)
{
    const void *nul = std::memchr(text, '\0', width);
    return {text, nul == nullptr ? width : static_cast<std::size_t>(static_cast<const char *>(nul) - text)};
}

bool all_of(std::string_view text, std::size_t length, int (*is_class)(int))
{
    if (text.size() != length) {
        return false;
    }
    for (const char c : text) {
        if (is_class(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
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
    write_identity(identity);

    const std::size_t count = total > 0 ? static_cast<std::size_t>(total) : 0;
    // Exactly sized, so that ASan catches a read past the table.
    std::vector<QueryRecord> table(count);
    for (QueryRecord &record : table) {
        std::string raw = input.bytes(sizeof record.SN + sizeof record.SSID);
        raw.resize(sizeof record.SN + sizeof record.SSID, 'x');
        std::memcpy(record.SN, raw.data(), sizeof record.SN);
        std::memcpy(record.SSID, raw.data() + sizeof record.SN, sizeof record.SSID);
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
    require(out != nullptr && out_len >= 0);
    const std::string document(out, static_cast<std::size_t>(out_len));
    require(out[out_len] == '\0');
    vFreeData(out);

    require(ctx.ErrID == 0 && ctx.TotalCount == total);
    require(std::string_view(ctx.ClientID) == sha1_upper_hex(std::string_view(identity).substr(0, 10240)));
    require(all_of(ctx.Nonce, 15, [](int c) { return std::isalnum(c); }));
    require(all_of(ctx.ReqTime, 14, [](int c) { return std::isdigit(c); }));

    std::string expected = "<DVKReq><ClientID>" + std::string(ctx.ClientID) + "</ClientID><Nonce>" +
                           std::string(ctx.Nonce) + "</Nonce><ReqTime>" + std::string(ctx.ReqTime) +
                           "</ReqTime><TotalCount>" + std::to_string(total) + "</TotalCount>";
    expected.reserve(expected.size() + count * 70 + 9);
    for (std::size_t i = 0; i < count; ++i) {
        const QueryRecord &before = table_before[i];
        expected += "<Rec><ID>" + std::to_string(i) + "</ID><SN>" + field(before.SN, DVKC_SN_MAX) + "</SN><SSID>" +
                    field(before.SSID, DVKC_SSID_MAX) + "</SSID></Rec>";
        require(table[i].Code == -1);
        require(std::memcmp(table[i].SN, before.SN, sizeof before.SN) == 0);
        require(std::memcmp(table[i].SSID, before.SSID, sizeof before.SSID) == 0);
    }
    expected += "</DVKReq>";
    require(document == expected);
    return 0;
}
