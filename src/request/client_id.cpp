#include "request/client_id.h"

#include <openssl/evp.h>

#include "dvkc.h"

namespace dvkc {

bool identity_client_id(std::FILE *file, char (&out)[41]) noexcept
{
    unsigned char block[kIdentityReadLimit];
    std::size_t filled = 0;
    while (filled < sizeof block) {
        const std::size_t got = std::fread(block + filled, 1, sizeof block - filled, file);
        if (got == 0) {
            break;  // end of file or a read error: digest what we have
        }
        filled += got;
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    if (EVP_Digest(block, filled, digest, &digest_len, EVP_sha1(), nullptr) != 1 || digest_len != 20) {
        return false;
    }
    bin2hex(digest, 20, out);
    return true;
}

}  // namespace dvkc
