#include "common/input_checks.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <fstream>
#include <memory>

namespace dvkc::tool {

std::string file_problem(const std::string &path, const std::string &what)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return "cannot read the " + what + " " + path + ": " + std::generic_category().message(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return "the " + what + " " + path + " is a directory";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "cannot read the " + what + " " + path + ": " + std::generic_category().message(errno);
    }
    return {};
}

std::string trust_file_problem(const std::string &path, const std::string &shown)
{
    const std::string &name = shown.empty() ? path : shown;
    if (std::string why = file_problem(path, "trust file"); !why.empty()) {
        return why;
    }
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "rb"), &BIO_free);
    bool found = false;
    if (bio) {
        // Other PEM entries (keys, parameters) are skipped, as the library does.
        while (X509 *certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
            X509_free(certificate);
            found = true;
        }
    }
    ERR_clear_error();
    if (!found) {
        return "the trust file " + name + " holds no PEM certificate";
    }
    return {};
}

unsigned long long file_size(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<unsigned long long>(info.st_size) : 0;
}

}  // namespace dvkc::tool
