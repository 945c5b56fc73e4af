#include "request/client_id.h"

#include <openssl/evp.h>

#include <cerrno>

#include "dvkc.h"

namespace dvkc {

bool identity_client_id(std::FILE *file, char (&out)[DVKC_CLIENT_ID_LENGTH + 1]) noexcept
{
    unsigned char block[kIdentityReadLimit];
    std::size_t filled = 0;
    while (filled < sizeof block) {
        const std::size_t wanted = sizeof block - filled;
        const std::size_t got = std::fread(block + filled, 1, wanted, file);
        filled += got;
        if (got < wanted) {
            if (std::ferror(file) == 0 || errno != EINTR) {
                break;  // end of file or a read error: digest what we have
            }
            std::clearerr(file);  // a signal cut the read short: read on
        }
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    if (EVP_Digest(block, filled, digest, &digest_len, EVP_sha1(), nullptr) != 1 ||
        digest_len != DVKC_CLIENT_ID_LENGTH / 2) {
        return false;
    }
    bin2hex(digest, DVKC_CLIENT_ID_LENGTH / 2, out);
    return true;
}

}  // namespace dvkc
