// The exchange's failure ladder, with the certificates a server presents and
// the trust files a client holds; the host's error queue after each; and null
// pointers.
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>

#include "exchange_helpers.h"
#include "host_errors.h"

namespace dvkc::test {
namespace {

const std::string kAnswer = "HTTP/1.0 200 OK\r\n\r\n<DVKResponse>ok</DVKResponse>";

enum class Target { service, refusing_port, digit_first_host };

struct LadderCase {
    const char *name;
    TlsIdentity ThrowawayPki::*presented;
    std::string ThrowawayPki::*trust;  // null: a file that does not exist
    Target target;
    std::int32_t expected;
    bool reaches_service;  // a TCP connection to the service is made
};

void PrintTo(const LadderCase &c, std::ostream *out)
{
    *out << c.name;
}

class FailureLadder : public testing::TestWithParam<LadderCase> {};

TEST_P(FailureLadder, ResultAndOutParameters)
{
    const LadderCase &c = GetParam();
    const ThrowawayPki &pki = shared_pki();
    const auto service = start_service(pki.*c.presented, fixed_answer(kAnswer));
    const RefusingPort refusing;
    const TempDir scratch;

    Call call;
    call.trust = c.trust != nullptr ? pki.*c.trust : (scratch.path() / "no-such-trust-file.pem").string();
    call.port = service->port();
    if (c.target == Target::refusing_port) {
        call.port = refusing.port();
    } else if (c.target == Target::digit_first_host) {
        call.host = "1nvalid";  // 255.255.255.255 once converted: the connect fails at once
    }
    queue_host_errors();
    const Received received = send_request(call);
    const std::string queue_after = take_error_queue();
    EXPECT_EQ(received.result, c.expected);
    // Whatever the outcome, the host's own OpenSSL errors are still queued, and nothing of ours.
    EXPECT_EQ(queue_after, host_errors_text());
    if (c.expected == 0) {
        EXPECT_EQ(received.text(), kAnswer);
    } else {
        EXPECT_TRUE(received.out_parameters_untouched());
    }

    // A probe that surely reaches the service: the service handles one
    // connection at a time in arrival order, so once the probe is through,
    // an earlier connection of the call would have been counted already.
    const Received probe = send_request(service->port(), pki.trust_root);
    EXPECT_NE(probe.result, -9);
    EXPECT_EQ(service->connections_accepted(), c.reaches_service ? 2U : 1U);
}

using P = ThrowawayPki;
INSTANTIATE_TEST_SUITE_P(
    Exchange, FailureLadder,
    testing::Values(
        // The trust file must load before any connection is made.
        LadderCase{"TrustFileMissing", &P::full_chain, nullptr, Target::service, -6, false},
        LadderCase{"TrustFileNotPem", &P::full_chain, &P::trust_not_pem, Target::service, -6, false},
        LadderCase{"TrustFileEmpty", &P::full_chain, &P::trust_empty, Target::service, -6, false},
        // Connection failures.
        LadderCase{"DigitFirstHostIsNotLookedUp", &P::full_chain, &P::trust_root, Target::digit_first_host, -9, false},
        LadderCase{"NoListener", &P::full_chain, &P::trust_root, Target::refusing_port, -9, false},
        // The TLS library's verification.
        LadderCase{"LeafFromUnrelatedCa", &P::unrelated_chain, &P::trust_root, Target::service, -12, true},
        LadderCase{"TrustFileOfUnrelatedCa", &P::full_chain, &P::trust_unrelated, Target::service, -12, true},
        LadderCase{"LeafAloneWithRootOnly", &P::leaf_only, &P::trust_root, Target::service, -12, true},
        // The chain check: every issuer presented needs its key in the trust file.
        LadderCase{"FullChainWithRootOnly", &P::full_chain, &P::trust_root, Target::service, -17, true},
        LadderCase{"LeafAndIntermediateWithRootOnly", &P::leaf_intermediate, &P::trust_root, Target::service, -17,
                   true},
        LadderCase{"FullChainWithRootAndIntermediate", &P::full_chain, &P::trust_root_intermediate, Target::service, 0,
                   true},
        LadderCase{"LeafAloneWithRootAndIntermediate", &P::leaf_only, &P::trust_root_intermediate, Target::service, 0,
                   true},
        LadderCase{"ReissuedRootSharesTheRootsKey", &P::reissued_root_chain, &P::trust_root_intermediate,
                   Target::service, 0, true},
        LadderCase{"ReissuedRootWithRootOnly", &P::reissued_root_chain, &P::trust_root, Target::service, -17, true},
        LadderCase{"SecondIntermediateHasAnotherKey", &P::second_intermediate_chain, &P::trust_root_intermediate,
                   Target::service, -17, true},
        LadderCase{"SecondIntermediateWithRootOnly", &P::second_intermediate_chain, &P::trust_root, Target::service,
                   -17, true},
        // A private key ahead of the certificates is passed over.
        LadderCase{"TrustFileWithKeyFirst", &P::full_chain, &P::trust_key_first, Target::service, 0, true}),
    [](const testing::TestParamInfo<LadderCase> &info) { return std::string(info.param.name); });

// --- Trust files: accepted and refused as the TLS library's own CA-file
// load would; a refused one gives -6 before any connection is made ---

std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Root and intermediate as "TRUSTED CERTIFICATE" entries.
std::string trusted_form(const ThrowawayPki &pki)
{
    std::string text;
    for (const std::string *file : {&pki.root_cert, &pki.intermediate_cert}) {
        const auto certificates = load_certificates(*file);
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509_AUX(bio, certificates.at(0).get());
        char *data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        text.append(data, static_cast<std::size_t>(size));
        BIO_free(bio);
    }
    return text;
}

// Root and intermediate in a bundle over 8 KiB: text between the entries puts
// the intermediate across byte 8192, and 9 KiB more of it follow.
std::string large_bundle(const ThrowawayPki &pki)
{
    const std::string root = read_text(pki.root_cert);
    const std::string intermediate = read_text(pki.intermediate_cert);
    std::string text = root;
    std::string line = "Comment text between entries, as bundles carry it.\n";
    while (text.size() + line.size() < 8192 - intermediate.size() / 2) {
        text += line;
    }
    text += intermediate;
    EXPECT_LT(text.size() - intermediate.size(), 8192U);
    EXPECT_GT(text.size(), 8192U);
    for (std::size_t i = 0; i < 9216 / line.size(); ++i) {
        text += line;
    }
    return text;
}

// A NUL byte within a line: the TLS library's line reader ends the line there.
std::string nul_in_a_line(const ThrowawayPki &pki)
{
    std::string text = read_text(pki.trust_root_intermediate);
    const std::string end = "-----END CERTIFICATE-----";
    text.insert(text.find(end) + end.size(), std::string("\0 and what follows the NUL", 27));
    return text;
}

// Two revocation lists (one empty, one naming a serial) and no certificate:
// the TLS library's CA-file load takes revocation lists too, so this is no
// reason to refuse the file; the server then has nothing to verify against.
std::string revocation_lists_only(const ThrowawayPki &)
{
    std::string text;
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    for (const long revoked_serial : {0L, 7L}) {
        const std::unique_ptr<X509_CRL, decltype(&X509_CRL_free)> crl(X509_CRL_new(), X509_CRL_free);
        const std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> issuer(X509_NAME_new(), X509_NAME_free);
        const std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> now(ASN1_TIME_set(nullptr, std::time(nullptr)),
                                                                        ASN1_TIME_free);
        X509_NAME_add_entry_by_txt(issuer.get(), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("revocations only"), -1, -1, 0);
        X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2);
        X509_CRL_set_issuer_name(crl.get(), issuer.get());
        X509_CRL_set1_lastUpdate(crl.get(), now.get());
        if (revoked_serial != 0) {
            X509_REVOKED *revoked = X509_REVOKED_new();
            ASN1_INTEGER *serial = ASN1_INTEGER_new();
            ASN1_INTEGER_set(serial, revoked_serial);
            X509_REVOKED_set_serialNumber(revoked, serial);
            X509_REVOKED_set_revocationDate(revoked, now.get());
            ASN1_INTEGER_free(serial);
            X509_CRL_add0_revoked(crl.get(), revoked);  // the list owns it now
        }
        EXPECT_GT(X509_CRL_sign(crl.get(), key.get(), EVP_sha256()), 0);
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509_CRL(bio, crl.get());
        char *data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        text.append(data, static_cast<std::size_t>(size));
        BIO_free(bio);
    }
    return text;
}

const std::string kCorruptBody =
    "-----BEGIN CERTIFICATE-----\nMAMCAQA=\n-----END CERTIFICATE-----\n";  // SEQUENCE { 0 }

struct TrustContentCase {
    const char *name;
    std::string (*content)(const ThrowawayPki &pki);
    std::int32_t expected;
    bool reaches_service;
};

void PrintTo(const TrustContentCase &c, std::ostream *out)
{
    *out << c.name;
}

class TrustContent : public testing::TestWithParam<TrustContentCase> {};

TEST_P(TrustContent, ResultAndNothingSentOnFailure)
{
    const TrustContentCase &c = GetParam();
    const ThrowawayPki &pki = shared_pki();
    const auto service = start_service(pki.full_chain, fixed_answer(kAnswer));
    const TempDir scratch;
    Call call;
    call.port = service->port();
    call.trust = scratch.write_file("trust.pem", c.content(pki));
    const Received received = send_request(call);
    EXPECT_EQ(received.result, c.expected);
    EXPECT_EQ(received.result != -6, tls_library_loads_ca_file(call.trust));
    const Received probe = send_request(service->port(), pki.trust_root_intermediate);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(service->connections_accepted(), c.reaches_service ? 2U : 1U);
    EXPECT_EQ(service->requests().size(), c.expected == 0 ? 2U : 1U);  // the probe's
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, TrustContent,
    testing::Values(
        TrustContentCase{"SecondCertificateBodyCorrupt",
                         [](const ThrowawayPki &pki) { return read_text(pki.root_cert) + kCorruptBody; }, -6, false},
        TrustContentCase{"FirstCertificateBodyCorrupt",
                         [](const ThrowawayPki &pki) { return kCorruptBody + read_text(pki.trust_root_intermediate); },
                         -6, false},
        TrustContentCase{"CertificateEntryWithAHeaderLine",
                         [](const ThrowawayPki &pki) {
                             std::string text = read_text(pki.trust_root_intermediate);
                             text.insert(text.find('\n') + 1, "Comment: a header line\n\n");
                             return text;
                         },
                         -6, false},
        TrustContentCase{"BundleOver8KiB", large_bundle, 0, true},
        TrustContentCase{"NulInALine", nul_in_a_line, 0, true},
        TrustContentCase{"EntryNotBase64",
                         [](const ThrowawayPki &pki) {
                             return read_text(pki.trust_root_intermediate) +
                                    "-----BEGIN CERTIFICATE-----\n!!!!\n-----END CERTIFICATE-----\n";
                         },
                         -6, false},
        TrustContentCase{"EntryWithoutEnd",
                         [](const ThrowawayPki &pki) {
                             return read_text(pki.trust_root_intermediate) + "-----BEGIN CERTIFICATE-----\nMAMC\n";
                         },
                         -6, false},
        TrustContentCase{"TrustedCertificateEntries", trusted_form, 0, true},
        TrustContentCase{"RevocationListsOnly", revocation_lists_only, -12, true}),
    [](const testing::TestParamInfo<TrustContentCase> &info) { return std::string(info.param.name); });

// A failed connect closes the socket the patient way: ten failed shutdowns,
// 5 ms apart. Only a lower bound is checked; the machine may be slower.
TEST(FailedConnect, WaitsOutTheShutdownRetries)
{
    const RefusingPort refusing;
    Call call;
    call.trust = shared_pki().trust_root;
    call.port = refusing.port();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(send_request(call).result, -9);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

// --- Null pointers: -1, nothing written, no connection ---

enum class NullArgument { host, trust_path, url_path, body, out_len, out_buf };

std::string null_argument_name(const testing::TestParamInfo<NullArgument> &info)
{
    static const char *const names[] = {"Host", "TrustPath", "UrlPath", "Body", "OutLen", "OutBuf"};
    return names[static_cast<int>(info.param)];
}

class NullPointers : public testing::TestWithParam<NullArgument> {};

TEST_P(NullPointers, GiveMinusOneAndTouchNothing)
{
    const ThrowawayPki &pki = shared_pki();
    const auto service = start_service(pki.full_chain, fixed_answer(kAnswer));
    const NullArgument null = GetParam();
    std::int32_t length = kUntouchedLength;
    char *buffer = &untouched_marker;
    const std::int32_t result = iSSL_SendThenRecv(
        null == NullArgument::host ? nullptr : "127.0.0.1", service->port(),
        null == NullArgument::trust_path ? nullptr : pki.trust_root_intermediate.c_str(),
        null == NullArgument::url_path ? nullptr : "/p", 1, null == NullArgument::body ? nullptr : "X",
        null == NullArgument::out_len ? nullptr : &length, null == NullArgument::out_buf ? nullptr : &buffer);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(length, kUntouchedLength);
    EXPECT_EQ(buffer, &untouched_marker);
    const Received probe = send_request(service->port(), pki.trust_root_intermediate);
    EXPECT_EQ(probe.result, 0);
    EXPECT_EQ(service->connections_accepted(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Exchange, NullPointers,
                         testing::Values(NullArgument::host, NullArgument::trust_path, NullArgument::url_path,
                                         NullArgument::body, NullArgument::out_len, NullArgument::out_buf),
                         null_argument_name);

}  // namespace
}  // namespace dvkc::test
