#include "check/trust_file_facts.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "check/check_openssl.h"
#include "common/input_checks.h"

namespace dvkc::tool {
namespace {

// OpenSSL's reason for the last failure, its error queue emptied.
std::string openssl_reason()
{
    const unsigned long error = ERR_peek_last_error();
    const char *reason = ERR_reason_error_string(error);
    ERR_clear_error();
    return reason != nullptr ? reason : "OpenSSL refuses it";
}

}  // namespace

TrustFileFacts read_trust_file(const std::string &path, const std::string &shown)
{
    const std::string &name = shown.empty() ? path : shown;
    TrustFileFacts facts;
    if (const std::string problem = file_problem(path, "trust file"); !problem.empty()) {
        facts.refusal = problem;
        return facts;
    }
    // What SSL_CTX_load_verify_locations does with a CA file.
    const StoreHandle store(X509_STORE_new());
    if (!store) {
        throw std::bad_alloc();
    }
    if (X509_STORE_load_file(store.get(), path.c_str()) != 1) {
        facts.refusal = "OpenSSL does not load the trust file " + name + ": " + openssl_reason();
        return facts;
    }
    // Its certificates in file order, read by the same PEM reader.
    const BioHandle file(BIO_new_file(path.c_str(), "r"));
    char no_pass_phrase[] = "";
    const InfoListHandle entries(file ? PEM_X509_INFO_read_bio(file.get(), nullptr, nullptr, no_pass_phrase) : nullptr);
    if (!entries) {
        facts.refusal = "OpenSSL does not read the trust file " + name + " again: " + openssl_reason();
        return facts;
    }
    for (int i = 0; i < sk_X509_INFO_num(entries.get()); ++i) {
        if (X509 *certificate = sk_X509_INFO_value(entries.get(), i)->x509; certificate != nullptr) {
            facts.certificates.push_back(certificate_facts(certificate));
        }
    }
    ERR_clear_error();
    facts.loaded = true;
    return facts;
}

}  // namespace dvkc::tool
