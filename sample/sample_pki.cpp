#include "sample_pki.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "throwaway_pki.h"

namespace dvkc::sample {
namespace {

constexpr const char *chain_name = "server-chain.pem";
constexpr const char *key_name = "server.key";
constexpr const char *trust_name = "trust.pem";

// Creates `path` (it must not exist) with `mode` and writes `content`.
void create_file(const std::filesystem::path &path, const std::string &content, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
    }
}

}  // namespace

SamplePki keep_sample_pki(const std::filesystem::path &dir, int days)
{
    std::filesystem::create_directories(dir);
    SamplePki pki;
    pki.identity = {(dir / chain_name).string(), (dir / key_name).string()};
    pki.trust_file = (dir / trust_name).string();

    int present = 0;
    std::string missing;
    for (const char *name : {chain_name, key_name, trust_name}) {
        if (std::filesystem::exists(dir / name)) {
            ++present;
        } else {
            missing += std::string(missing.empty() ? "" : ", ") + name;
        }
    }
    if (present == 3) {
        pki.reused = true;
        return pki;
    }
    if (present != 0) {
        throw std::runtime_error(dir.string() + " holds part of a PKI (" + missing +
                                 " missing); its files are left alone: remove them or choose another directory");
    }

    const KeyPtr root_key = generate_p256_key();
    const KeyPtr intermediate_key = generate_p256_key();
    const KeyPtr server_key = generate_p256_key();
    const long lifetime = static_cast<long>(days) * 86400;
    const auto profile = [lifetime](std::string name, bool is_ca, long serial) {
        CertificateProfile p;
        p.common_name = std::move(name);
        p.is_ca = is_ca;
        p.serial = serial;
        p.not_after_offset = lifetime;
        if (!is_ca) {
            p.dns_names = {"localhost"};
            p.ip_addresses = {"127.0.0.1"};
        }
        return p;
    };
    const CertificatePtr root =
        issue_certificate(profile("DVKC Sample Root", true, 1), root_key.get(), nullptr, root_key.get());
    const CertificatePtr intermediate = issue_certificate(profile("DVKC Sample Intermediate", true, 2),
                                                          intermediate_key.get(), root.get(), root_key.get());
    const CertificatePtr server =
        issue_certificate(profile("127.0.0.1", false, 3), server_key.get(), intermediate.get(), intermediate_key.get());
    const std::string intermediate_pem = certificate_pem(intermediate.get());

    create_file(pki.identity.key_file, private_key_pem(server_key.get()), 0600);
    create_file(pki.identity.chain_file, certificate_pem(server.get()) + intermediate_pem, 0644);
    create_file(pki.trust_file, certificate_pem(root.get()) + intermediate_pem, 0644);
    return pki;
}

}  // namespace dvkc::sample
