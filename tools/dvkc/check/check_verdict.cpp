#include "check/check_verdict.h"

#include <openssl/x509_vfy.h>

#include "cli/exit_status.h"
#include "dvkc.h"

namespace dvkc::tool {
namespace {

std::string described(const CertificateFacts &certificate)
{
    return "the certificate whose subject is \"" + certificate.subject + "\" and whose key SHA-256 is " +
           certificate.key_sha256;
}

// What to do about the first verification error, the one that fails the handshake.
std::string verify_fix(const VerifyError &error, const std::vector<CertificateFacts> &presented)
{
    const auto depth = static_cast<std::size_t>(error.depth);
    if (depth >= presented.size()) {
        return "the chain does not verify against the trust file (" + error.words + ")";
    }
    const CertificateFacts &at = presented[depth];
    const std::string which = depth == 0
                                  ? "the server's certificate"
                                  : "the certificate at depth " + std::to_string(depth) + " (\"" + at.subject + "\")";
    switch (error.code) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return which + " expired on " + at.not_after + ": the server needs a new one";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return which + " is valid only from " + at.not_before + ": check this machine's clock, or wait until then";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "the server presents a self-signed certificate: add " + described(at) +
               " to the trust file if you trust it, or give the server a certificate issued by a CA of the trust file";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "the server's chain ends in a root the trust file lacks: add " + described(at) +
               " (presented at depth " + std::to_string(depth) + ") to the trust file if you trust it";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return "the trust file holds no issuer of " + which + ": add the certificate whose subject is \"" + at.issuer +
               "\" to the trust file, with those above it up to a self-signed root where it lacks them";
    default:
        return which + " does not verify against the trust file: " + error.words;
    }
}

}  // namespace

std::vector<IssuerKey> issuer_keys(const std::vector<CertificateFacts> &presented,
                                   const std::vector<CertificateFacts> &trusted)
{
    std::vector<IssuerKey> keys;
    for (std::size_t depth = 1; depth < presented.size(); ++depth) {
        IssuerKey key{depth, std::nullopt};
        for (std::size_t entry = 0; entry < trusted.size(); ++entry) {
            if (same_key(presented[depth], trusted[entry])) {
                key.trust_entry = entry + 1;
                break;
            }
        }
        keys.push_back(key);
    }
    return keys;
}

Verdict judge(const std::string &host, std::uint16_t port, const TrustFileFacts &trust,
              const std::optional<ServerInspection> &seen)
{
    if (!trust.loaded || !seen) {
        return {DVKC_EXCHANGE_TRUST_FILE, {"give a readable file of PEM certificates that OpenSSL loads as a CA file"}};
    }
    const std::string service = seen->address + ":" + std::to_string(port);
    switch (seen->reached) {
    case ServerInspection::Reached::nothing:
        return {DVKC_EXCHANGE_RESOLVE,
                {"this machine finds no IPv4 address for " + host + ": check the name, or give a dotted IPv4 address"}};
    case ServerInspection::Reached::address:
        return {DVKC_EXCHANGE_CONNECT,
                {"nothing accepts TCP connections at " + service + " (" + seen->failure +
                 "): check the port, that the service runs and that no firewall stops it"}};
    case ServerInspection::Reached::connection:
        if (!seen->verify_errors.empty()) {
            return {DVKC_EXCHANGE_HANDSHAKE, {verify_fix(seen->verify_errors.front(), seen->presented)}};
        }
        if (seen->protocol_refused) {
            return {DVKC_EXCHANGE_HANDSHAKE,
                    {(seen->old_version.empty() ? std::string("the server and the library share no TLS version")
                                                : "the server speaks " + seen->old_version + " but not TLS 1.2") +
                     ": the library needs TLS 1.2 or 1.3, so the server must offer one of them"}};
        }
        return {DVKC_EXCHANGE_HANDSHAKE, {"the TLS handshake with " + service + " fails: " + seen->failure}};
    case ServerInspection::Reached::handshake:
        break;
    }
    if (!seen->verify_errors.empty()) {
        return {DVKC_EXCHANGE_HANDSHAKE, {verify_fix(seen->verify_errors.front(), seen->presented)}};
    }
    Verdict verdict;
    for (const IssuerKey &key : issuer_keys(seen->presented, trust.certificates)) {
        if (!key.trust_entry) {
            verdict.result = DVKC_EXCHANGE_CHAIN_KEY;
            verdict.fixes.push_back("add " + described(seen->presented[key.depth]) +
                                    " to the trust file (the server presents it at depth " + std::to_string(key.depth) +
                                    ")");
        }
    }
    if (verdict.result == 0 && seen->presented.empty()) {
        verdict = {DVKC_EXCHANGE_NO_SERVER_CERT, {"the server must present a certificate"}};
    }
    return verdict;
}

int verdict_exit_status(const Verdict &verdict)
{
    if (verdict.result == 0) {
        return exit_ok;
    }
    return verdict.result == DVKC_EXCHANGE_TRUST_FILE ? exit_input : exit_failed;
}

}  // namespace dvkc::tool
