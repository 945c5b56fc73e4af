// One whole query through the six exported functions against the echo service.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "dvk_request.h"
#include "echo_answer.h"
#include "exchange_helpers.h"

namespace dvkc::test {
namespace {

struct LibraryBuffer {
    void operator()(char *buffer) const noexcept { vFreeData(buffer); }
};
using Buffer = std::unique_ptr<char, LibraryBuffer>;

template <std::size_t N>
void copy_text(char (&field)[N], std::string_view text)
{
    const std::size_t size = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), size);
    field[size] = '\0';
}

QueryRecord record(std::string_view sn, std::string_view ssid)
{
    QueryRecord entry{};
    copy_text(entry.SN, sn);
    copy_text(entry.SSID, ssid);
    entry.Code = 12345;
    return entry;
}

std::string sha1_hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr), 1);
    char hex[2 * EVP_MAX_MD_SIZE + 1];
    EXPECT_EQ(bin2hex(digest, static_cast<std::int32_t>(size), hex), 0);
    return hex;
}

TEST(WholeQuery, BuildWrapPostParseAgainstTheEchoService)
{
    const TempDir dir;
    const std::string identity_bytes = "this client's identity file";
    const std::string identity = dir.write_file("identity.bin", identity_bytes);
    QueryRecord records[] = {record("SN-0001", "SSID-AAAA"), record("A1", "xy"),
                             record("0123456789ABCDEF", "0123456789")};
    QueryContext context{};
    context.TotalCount = 3;
    context.Records = records;

    std::int32_t document_length = 0;
    char *document_text = nullptr;
    ASSERT_EQ(iMake_DVKReqPKT(7, identity.c_str(), &context, &document_length, &document_text), 0);
    const Buffer document(document_text);
    EXPECT_EQ(context.ClientID, sha1_hex(identity_bytes));

    const std::string signature = "c2lnbmVkIGJ5IHRoZSBob3N0";
    std::int32_t envelope_length = 0;
    char *envelope_text = nullptr;
    ASSERT_EQ(iMake_DVKRequestPKT(document_length, document.get(), static_cast<std::int32_t>(signature.size()),
                                  signature.c_str(), &envelope_length, &envelope_text),
              0);
    const Buffer envelope(envelope_text);

    const auto service = start_service(shared_pki().full_chain, echo_handler());
    std::int32_t answer_length = 0;
    char *answer_text = nullptr;
    ASSERT_EQ(iSSL_SendThenRecv("127.0.0.1", service->port(), shared_pki().trust_root_intermediate.c_str(), "/dvk",
                                envelope_length, envelope.get(), &answer_length, &answer_text),
              0);
    const Buffer answer(answer_text);
    ASSERT_EQ(iParse_DVKResponsePKT(&context, answer_length, answer.get()), 0);
    EXPECT_EQ(context.ErrID, 0);
    EXPECT_EQ(records[0].Code, default_code("SN-0001"));
    EXPECT_EQ(records[1].Code, 114);  // 'A' + '1'
    EXPECT_EQ(records[2].Code, default_code("0123456789ABCDEF"));

    // The service saw the query as built: our ClientID, nonce and signature.
    service->stop();
    ASSERT_EQ(service->requests().size(), 1U);
    std::string why;
    const std::optional<DvkRequest> seen = parse_dvk_request(service->requests()[0], &why);
    ASSERT_TRUE(seen) << why;
    EXPECT_EQ(seen->client_id, context.ClientID);
    EXPECT_EQ(seen->nonce, context.Nonce);
    EXPECT_EQ(seen->signature, signature);
    EXPECT_EQ(seen->req_length, std::to_string(document_length));
    ASSERT_EQ(seen->records.size(), 3U);
    EXPECT_EQ(seen->records[2].ssid, "0123456789");
}

}  // namespace
}  // namespace dvkc::test
