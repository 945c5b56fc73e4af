// The chain check alone, over chains built from the throwaway certificates,
// against trust files loaded as the exchange loads them.
#include "transport/chain_check.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <ostream>
#include <string>
#include <vector>

#include "exchange_helpers.h"
#include "transport/openssl_handles.h"
#include "transport/trust_file.h"

namespace dvkc::test {
namespace {

using transport::check_chain_keys;
using transport::same_key_bits;

struct BitStringDeleter {
    void operator()(ASN1_BIT_STRING *bits) const noexcept { ASN1_BIT_STRING_free(bits); }
};
using BitString = std::unique_ptr<ASN1_BIT_STRING, BitStringDeleter>;

BitString bit_string(const std::string &bytes)
{
    BitString bits(ASN1_BIT_STRING_new());
    EXPECT_EQ(ASN1_BIT_STRING_set(bits.get(), reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.data())),
                                  static_cast<int>(bytes.size())),
              1);
    return bits;
}

TEST(SameKeyBits, ComparesLengthAndEveryByte)
{
    const std::string key(65, '\x04');
    std::string one_byte_off = key;
    one_byte_off[40] = '\x05';
    EXPECT_TRUE(same_key_bits(bit_string(key).get(), bit_string(key).get()));
    EXPECT_FALSE(same_key_bits(bit_string(key).get(), bit_string(one_byte_off).get()));
    EXPECT_FALSE(same_key_bits(bit_string(key).get(), bit_string(key + '\x04').get()));
    EXPECT_FALSE(same_key_bits(bit_string(key.substr(1)).get(), bit_string(key).get()));
    EXPECT_TRUE(same_key_bits(bit_string("").get(), bit_string("").get()));
    EXPECT_FALSE(same_key_bits(nullptr, bit_string(key).get()));
    EXPECT_FALSE(same_key_bits(bit_string(key).get(), nullptr));
}

TEST(SameKeyBits, RealKeysOfEqualLengthDiffer)
{
    const ThrowawayPki &pki = shared_pki();
    const auto root = load_certificates(pki.root_cert);
    const auto reissued = load_certificates(pki.reissued_root_cert);
    const auto intermediate = load_certificates(pki.intermediate_cert);
    const ASN1_BIT_STRING *root_key = X509_get0_pubkey_bitstr(root.at(0).get());
    const ASN1_BIT_STRING *intermediate_key = X509_get0_pubkey_bitstr(intermediate.at(0).get());
    ASSERT_EQ(ASN1_STRING_length(root_key), ASN1_STRING_length(intermediate_key));
    EXPECT_FALSE(same_key_bits(root_key, intermediate_key));
    EXPECT_TRUE(same_key_bits(root_key, X509_get0_pubkey_bitstr(reissued.at(0).get())));
}

// A presented chain as the TLS library would hold it.
struct Chain {
    STACK_OF(X509) *stack = sk_X509_new_null();
    std::vector<CertificatePtr> owned;

    explicit Chain(const std::vector<std::string> &files)
    {
        for (const std::string &file : files) {
            for (CertificatePtr &certificate : load_certificates(file)) {
                sk_X509_push(stack, certificate.get());
                owned.push_back(std::move(certificate));
            }
        }
    }
    Chain(const Chain &) = delete;
    Chain &operator=(const Chain &) = delete;
    ~Chain() { sk_X509_free(stack); }
};

enum class Presented {
    none,
    empty,
    leaf,
    leaf_intermediate,
    full,
    root_before_intermediate,
    reissued,
    second,
    unrelated_leaf_intermediate
};
enum class Trust {
    missing,
    root,
    root_intermediate,
    intermediate_only,
    key_first,
    empty,
    not_pem,
    broken_base64,
    broken_der
};

// The trust file is refused before any check (the exchange's -6).
constexpr std::int32_t kRefused = -6;

struct CheckCase {
    const char *name;
    Presented presented;
    Trust trust;
    std::int32_t expected;
};

void PrintTo(const CheckCase &c, std::ostream *out)
{
    *out << c.name;
}

std::vector<std::string> chain_files(Presented presented)
{
    const ThrowawayPki &p = shared_pki();
    switch (presented) {
    case Presented::leaf:
        return {p.leaf_cert};
    case Presented::leaf_intermediate:
        return {p.leaf_cert, p.intermediate_cert};
    case Presented::full:
        return {p.leaf_cert, p.intermediate_cert, p.root_cert};
    case Presented::root_before_intermediate:
        return {p.leaf_cert, p.root_cert, p.intermediate_cert};
    case Presented::reissued:
        return {p.leaf_cert, p.intermediate_cert, p.reissued_root_cert};
    case Presented::second:
        return {p.second_leaf_cert, p.second_intermediate_cert, p.root_cert};
    case Presented::unrelated_leaf_intermediate:
        return {p.unrelated_leaf_cert, p.intermediate_cert};
    default:
        return {};
    }
}

std::string trust_file(Trust trust, const TempDir &scratch)
{
    const ThrowawayPki &p = shared_pki();
    switch (trust) {
    case Trust::missing:
        return (scratch.path() / "missing.pem").string();
    case Trust::root:
        return p.trust_root;
    case Trust::root_intermediate:
        return p.trust_root_intermediate;
    case Trust::intermediate_only:
        return p.intermediate_cert;
    case Trust::key_first:
        return p.trust_key_first;
    case Trust::empty:
        return p.trust_empty;
    case Trust::not_pem:
        return p.trust_not_pem;
    case Trust::broken_base64:
        return scratch.write_file("broken-base64.pem",
                                  "-----BEGIN CERTIFICATE-----\n!!!not base64!!!\n"
                                  "-----END CERTIFICATE-----\n");
    case Trust::broken_der:
        return scratch.write_file("broken-der.pem",
                                  "-----BEGIN CERTIFICATE-----\nAAECAwQFBgcICQ==\n"
                                  "-----END CERTIFICATE-----\n");
    }
    return {};
}

class ChainCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(ChainCheck, Result)
{
    const CheckCase &c = GetParam();
    const TempDir scratch;
    const std::string path = trust_file(c.trust, scratch);
    transport::TrustFile trust;
    const bool loaded = trust.load(path.c_str());
    EXPECT_EQ(loaded, tls_library_loads_ca_file(path));  // accepted and refused as the TLS library's own load
    if (!loaded) {
        EXPECT_EQ(kRefused, c.expected);
        return;
    }
    if (c.presented == Presented::none) {
        EXPECT_EQ(check_chain_keys(nullptr, trust.certificates()), c.expected);
        return;
    }
    const Chain chain(chain_files(c.presented));
    EXPECT_EQ(check_chain_keys(chain.stack, trust.certificates()), c.expected);
    // The chain is read, never consumed.
    ASSERT_EQ(static_cast<std::size_t>(sk_X509_num(chain.stack)), chain.owned.size());
    for (std::size_t i = 0; i < chain.owned.size(); ++i) {
        EXPECT_EQ(sk_X509_value(chain.stack, static_cast<int>(i)), chain.owned[i].get());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transport, ChainCheck,
    testing::Values(
        // Nothing beyond the server's own certificate: nothing to compare.
        CheckCase{"NoChain", Presented::none, Trust::intermediate_only, 0},
        CheckCase{"LeafAlone", Presented::leaf, Trust::intermediate_only, 0},
        CheckCase{"EmptyChain", Presented::empty, Trust::root, 0},
        // Files the TLS library would not load never reach the check.
        CheckCase{"MissingFile", Presented::full, Trust::missing, kRefused},
        CheckCase{"BrokenBase64", Presented::full, Trust::broken_base64, kRefused},
        CheckCase{"BrokenDer", Presented::full, Trust::broken_der, kRefused},
        CheckCase{"EmptyFile", Presented::full, Trust::empty, kRefused},
        CheckCase{"TextWithoutPem", Presented::full, Trust::not_pem, kRefused},
        // Every issuer needs its key in the file.
        CheckCase{"RootOnlyLacksTheIntermediate", Presented::full, Trust::root, -3},
        CheckCase{"RootAndIntermediate", Presented::full, Trust::root_intermediate, 0},
        CheckCase{"IntermediateOnlyLacksTheRoot", Presented::full, Trust::intermediate_only, -3},
        CheckCase{"LeafAndIntermediate", Presented::leaf_intermediate, Trust::intermediate_only, 0},
        CheckCase{"OrderOfIssuersDoesNotMatter", Presented::root_before_intermediate, Trust::root_intermediate, 0},
        CheckCase{"ReissuedRootMatchesByKey", Presented::reissued, Trust::root_intermediate, 0},
        CheckCase{"SecondIntermediateHasAnotherKey", Presented::second, Trust::root_intermediate, -3},
        // The server's own certificate is never compared.
        CheckCase{"ServerCertificateNotCompared", Presented::unrelated_leaf_intermediate, Trust::intermediate_only, 0},
        // Entries without a certificate are passed over.
        CheckCase{"KeyEntryFirst", Presented::full, Trust::key_first, 0}),
    [](const testing::TestParamInfo<CheckCase> &info) { return std::string(info.param.name); });

TEST(ChainCheck, ConnectionWithoutPeerPasses)
{
    const transport::SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    ASSERT_TRUE(context);
    const transport::SslPtr connection(SSL_new(context.get()));
    ASSERT_TRUE(connection);
    EXPECT_EQ(transport::iVerifyServerChain(connection.get(), nullptr), 0);
}

}  // namespace
}  // namespace dvkc::test
