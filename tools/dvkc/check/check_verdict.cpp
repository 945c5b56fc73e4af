#include "check/check_verdict.h"

#include <openssl/x509_vfy.h>

#include "cli/exit_status.h"
#include "dvkc.h"

namespace dvkc::tool {
namespace {

std::string quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// "\"CN=x\" (key SHA-256 ab12...)"
std::string named(const CertificateFacts &certificate)
{
    return quoted(certificate.subject) + " (key SHA-256 " + certificate.key_sha256 + ")";
}

std::string described(const CertificateFacts &certificate)
{
    return "the certificate whose subject is \"" + certificate.subject + "\" and whose key SHA-256 is " +
           certificate.key_sha256;
}

// The trust file entry (from 1) holding this very certificate.
std::optional<std::size_t> trust_entry_of(const CertificateFacts &certificate, const TrustFileFacts &trust)
{
    for (std::size_t i = 0; i < trust.certificates.size(); ++i) {
        if (trust.certificates[i].sha256 == certificate.sha256) {
            return i + 1;
        }
    }
    return std::nullopt;
}

// The trust file entry (from 1) whose subject is `subject`.
std::optional<std::size_t> trust_entry_named(const std::string &subject, const TrustFileFacts &trust)
{
    for (std::size_t i = 0; i < trust.certificates.size(); ++i) {
        if (trust.certificates[i].subject == subject) {
            return i + 1;
        }
    }
    return std::nullopt;
}

// Where the certificate a verification error concerns comes from.
std::string whereabouts(const VerifyError &error, const TrustFileFacts &trust)
{
    if (error.from_trust_file) {
        const std::optional<std::size_t> entry = trust_entry_of(error.certificate, trust);
        return entry ? "entry " + std::to_string(*entry) + " of the trust file" : "a certificate of the trust file";
    }
    return error.depth == 0 ? "the server's certificate"
                            : "the certificate the server presents at depth " + std::to_string(error.depth);
}

// A certificate the server presents with the same key as `certificate`, still
// valid when `certificate` is not (not_after compares as text: both are ISO 8601 UTC).
std::optional<std::size_t> current_copy_presented(const CertificateFacts &certificate,
                                                  const std::vector<CertificateFacts> &presented)
{
    for (std::size_t depth = 0; depth < presented.size(); ++depth) {
        if (same_key(presented[depth], certificate) && presented[depth].not_after > certificate.not_after) {
            return depth;
        }
    }
    return std::nullopt;
}

std::string expired_fix(const VerifyError &error, const ServerProbe &seen, const TrustFileFacts &trust)
{
    const CertificateFacts &certificate = error.certificate;
    const std::string which = whereabouts(error, trust) + ", " + named(certificate) + ",";
    if (error.from_trust_file) {
        std::string fix = which + " expired on " + certificate.not_after +
                          ": replace it in the trust file with a current certificate for the same key";
        if (const std::optional<std::size_t> depth = current_copy_presented(certificate, seen.presented)) {
            fix += ", such as the one the server presents at depth " + std::to_string(*depth) + " (valid to " +
                   seen.presented[*depth].not_after + ")";
        }
        return fix;
    }
    return which + " expired on " + certificate.not_after +
           (error.depth == 0 ? ": the server needs a new one" : ": the server must send a current one in its place");
}

std::string missing_issuer_fix(const VerifyError &error, const ServerProbe &seen, const TrustFileFacts &trust)
{
    const CertificateFacts &certificate = error.certificate;
    const std::string issuer = quoted(certificate.issuer);
    const std::string which = whereabouts(error, trust) + ", " + named(certificate) + ",";
    if (const std::optional<std::size_t> entry = trust_entry_named(certificate.issuer, trust)) {
        return which + " was issued by " + issuer + ", but not with the key of the trust file's " + issuer +
               " (entry " + std::to_string(*entry) + "): add the certificate of the " + issuer +
               " that issued it, or give the server a certificate issued by the trust file's " + issuer;
    }
    const bool top_of_sent_chain =
        !error.from_trust_file && static_cast<std::size_t>(error.depth) + 1 >= seen.presented.size();
    if (top_of_sent_chain) {
        return which + " was issued by " + issuer +
               ", which the server does not send and the trust file does not hold: the server should send the "
               "certificate of " +
               issuer + " after it; the library also wants every issuer the server sends in the trust file, so add " +
               issuer + "'s certificate there too (for the library that alone is enough)";
    }
    return which + " was issued by " + issuer + ", which the trust file does not hold: add the certificate of " +
           issuer + " to the trust file, with those above it up to a self-signed root where it lacks them";
}

// What to do about the first verification error, the one that fails the handshake.
std::string verify_fix(const VerifyError &error, const ServerProbe &seen, const TrustFileFacts &trust)
{
    const CertificateFacts &certificate = error.certificate;
    switch (error.code) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return expired_fix(error, seen, trust);
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return whereabouts(error, trust) + ", " + named(certificate) + ", is valid only from " +
               certificate.not_before + ": check this machine's clock, or wait until then";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "the server presents a self-signed certificate: add " + described(certificate) +
               " to the trust file if you trust it, or give the server a certificate issued by a CA of the trust file";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "the server's chain ends in a root the trust file lacks: add " + described(certificate) +
               " (presented at depth " + std::to_string(error.depth) + ") to the trust file if you trust it";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return missing_issuer_fix(error, seen, trust);
    default:
        return whereabouts(error, trust) + ", " + named(certificate) +
               ", does not verify against the trust file: " + error.words;
    }
}

// Whether each certificate the server presents after its own issued the one before it.
std::optional<std::size_t> first_out_of_order(const std::vector<CertificateFacts> &presented)
{
    for (std::size_t depth = 1; depth < presented.size(); ++depth) {
        if (presented[depth].subject != presented[depth - 1].issuer) {
            return depth;
        }
    }
    return std::nullopt;
}

// Whether the certificate at `depth` issued any the server presents.
bool issued_any(const std::vector<CertificateFacts> &presented, std::size_t depth)
{
    for (std::size_t other = 0; other < presented.size(); ++other) {
        if (other != depth && presented[other].issuer == presented[depth].subject) {
            return true;
        }
    }
    return false;
}

// A line for a chain the server sends out of order: the server's to fix.
void add_order_fix(const std::vector<CertificateFacts> &presented, std::vector<std::string> &fixes)
{
    const std::optional<std::size_t> depth = first_out_of_order(presented);
    if (!depth || !issued_any(presented, *depth)) {
        return;
    }
    fixes.insert(fixes.begin(), "the server sends its chain in the wrong order: the certificate at depth " +
                                    std::to_string(*depth) + ", " + named(presented[*depth]) +
                                    ", did not issue the one before it: the server should send each issuer right "
                                    "after the certificate it issued");
}

// The library's key rule: every issuer key the server sends must be in the trust file.
Verdict judge_issuer_keys(const ServerProbe &seen, const TrustFileFacts &trust)
{
    Verdict verdict;
    for (const IssuerKey &key : issuer_keys(seen.presented, trust.certificates)) {
        if (key.trust_entry) {
            continue;
        }
        verdict.result = DVKC_EXCHANGE_CHAIN_KEY;
        const CertificateFacts &sent = seen.presented[key.depth];
        const std::string at = " (the server presents it at depth " + std::to_string(key.depth) + ")";
        if (!issued_any(seen.presented, key.depth) && sent.subject != sent.issuer) {
            verdict.fixes.push_back("the server sends " + described(sent) + at +
                                    ", which issued none of the certificates it sends: the server should stop "
                                    "sending it (or add it to the trust file)");
        } else if (!issued_any(seen.presented, key.depth)) {
            verdict.fixes.push_back("the server sends a root, " + described(sent) + at +
                                    ", which issued none of the certificates it sends: the server should stop "
                                    "sending it (or add it to the trust file if you trust it)");
        } else {
            verdict.fixes.push_back("add " + described(sent) + " to the trust file" + at);
        }
    }
    return verdict;
}

std::string timed_out_fix(const ServerProbe &seen, const std::string &service, long timeout_seconds)
{
    const std::string limit = std::to_string(timeout_seconds) + " s";
    if (seen.reached == ServerProbe::Reached::address) {
        return "nothing answered the TCP connection to " + service + " within " + limit +
               " (the library waits until the system gives up, then returns -9): check the address and the port, "
               "and that no firewall drops the packets";
    }
    return service + " accepted the connection but did not complete the TLS handshake within " + limit +
           " (the library has no time limit and would wait): check that the service on this port speaks TLS and "
           "is not overloaded";
}

std::string connect_fix(const std::string &host, const ServerProbe &seen, const std::string &service)
{
    if (seen.address_not_dotted) {
        return host +
               " is not a dotted IPv4 address, yet the library takes it as one, which gives 255.255.255.255 (no "
               "server is there; an IPv6 address is not supported): give the server's IPv4 address or host name";
    }
    if (seen.address == "255.255.255.255") {
        return "255.255.255.255 is the broadcast address, where no server is: give the server's own address";
    }
    return "nothing accepts TCP connections at " + service + " (" + seen.failure +
           "): check the port, that the service runs and that no firewall stops it";
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
              const std::optional<ServerProbe> &seen, long timeout_seconds)
{
    if (!trust.loaded || !seen) {
        return {DVKC_EXCHANGE_TRUST_FILE,
                {"give a readable file of PEM certificates that OpenSSL loads as a CA file"},
                false};
    }
    const std::string service = seen->address + ":" + std::to_string(port);
    if (seen->timed_out) {
        return {0, {timed_out_fix(*seen, service, timeout_seconds)}, true};
    }
    Verdict verdict;
    switch (seen->reached) {
    case ServerProbe::Reached::nothing:
        return {DVKC_EXCHANGE_RESOLVE,
                {"this machine finds no IPv4 address for " + host + ": check the name, or give a dotted IPv4 address"},
                false};
    case ServerProbe::Reached::address:
        return {DVKC_EXCHANGE_CONNECT, {connect_fix(host, *seen, service)}, false};
    case ServerProbe::Reached::connection:
        if (!seen->verify_errors.empty()) {
            verdict = {DVKC_EXCHANGE_HANDSHAKE, {verify_fix(seen->verify_errors.front(), *seen, trust)}, false};
        } else if (seen->protocol_refused) {
            return {DVKC_EXCHANGE_HANDSHAKE,
                    {(seen->old_version.empty() ? std::string("the server and the library share no TLS version")
                                                : "the server speaks " + seen->old_version + " but not TLS 1.2") +
                     ": the library needs TLS 1.2 or 1.3, so the server must offer one of them"},
                    false};
        } else {
            return {DVKC_EXCHANGE_HANDSHAKE, {"the TLS handshake with " + service + " fails: " + seen->failure}, false};
        }
        break;
    case ServerProbe::Reached::handshake:
        if (!seen->verify_errors.empty()) {
            verdict = {DVKC_EXCHANGE_HANDSHAKE, {verify_fix(seen->verify_errors.front(), *seen, trust)}, false};
        } else {
            verdict = judge_issuer_keys(*seen, trust);
        }
        break;
    }
    if (verdict.result == 0 && seen->presented.empty()) {
        return {DVKC_EXCHANGE_NO_SERVER_CERT, {"the server must present a certificate"}, false};
    }
    if (verdict.result != 0) {
        add_order_fix(seen->presented, verdict.fixes);
    }
    return verdict;
}

int verdict_exit_status(const Verdict &verdict)
{
    if (verdict.timed_out) {
        return exit_check_timed_out;
    }
    if (verdict.result == 0) {
        return exit_ok;
    }
    return verdict.result == DVKC_EXCHANGE_TRUST_FILE ? exit_input : exit_failed;
}

}  // namespace dvkc::tool
