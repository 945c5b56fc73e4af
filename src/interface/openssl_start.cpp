#include "interface/openssl_start.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

namespace dvkc {

bool start_openssl(OpenSslPart part) noexcept
{
    // Every call names OPENSSL_INIT_NO_LOAD_CONFIG: the first one to run
    // decides, once per process, whether a configuration is loaded.
    if (part == OpenSslPart::crypto) {
        return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
    }
    if (OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) {
        return false;
    }
    // Error strings; their loading is not a condition.
    static_cast<void>(OPENSSL_init_ssl(
        OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr));
    return true;
}

}  // namespace dvkc
