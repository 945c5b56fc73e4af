#include "transport/trust_file.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interface/allocate.h"
#include "platform/read_only_file.h"
#include "transport/openssl_handles.h"

namespace dvkc::transport {
namespace {

struct FileCloser {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};

// One PEM entry as PEM_read_bio hands it out.
struct PemEntry {
    char *name = nullptr;
    char *header = nullptr;
    unsigned char *data = nullptr;
    long length = 0;

    PemEntry() = default;
    PemEntry(const PemEntry &) = delete;
    PemEntry &operator=(const PemEntry &) = delete;
    ~PemEntry()
    {
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
};

enum class Read { entry, end, malformed };

// The next entry of `bio`; the end of the text is not an error, anything
// else that stops the PEM reader is.
Read next_entry(BIO *bio, PemEntry &entry) noexcept
{
    if (PEM_read_bio(bio, &entry.name, &entry.header, &entry.data, &entry.length) == 1) {
        return Read::entry;
    }
    return ERR_GET_REASON(ERR_peek_last_error()) == PEM_R_NO_START_LINE ? Read::end : Read::malformed;
}

bool is_certificate(const char *name) noexcept
{
    return std::strcmp(name, PEM_STRING_X509) == 0 || std::strcmp(name, PEM_STRING_X509_OLD) == 0 ||
           std::strcmp(name, PEM_STRING_X509_TRUSTED) == 0;
}

// The whole file; false when it cannot be opened or read.
bool read_whole(const char *path, std::unique_ptr<char, FreeDeleter> &text, std::size_t &size) noexcept
{
    const std::unique_ptr<std::FILE, FileCloser> file(platform::open_for_reading(path));
    if (!file) {
        return false;
    }
    std::size_t capacity = 8192;
    std::unique_ptr<char, FreeDeleter> buffer(static_cast<char *>(allocate(capacity)));
    std::size_t used = 0;
    while (buffer) {
        if (used == capacity) {
            std::unique_ptr<char, FreeDeleter> grown(static_cast<char *>(allocate(capacity * 2)));
            if (!grown) {
                return false;
            }
            std::memcpy(grown.get(), buffer.get(), used);
            buffer = std::move(grown);
            capacity *= 2;
        }
        used += std::fread(buffer.get() + used, 1, capacity - used, file.get());
        if (used < capacity) {
            if (std::ferror(file.get()) != 0) {
                return false;
            }
            text = std::move(buffer);
            size = used;
            return true;
        }
    }
    return false;
}

}  // namespace

TrustFile::~TrustFile()
{
    sk_X509_pop_free(certificates_, X509_free);
    sk_X509_CRL_pop_free(revocation_lists_, X509_CRL_free);
}

bool TrustFile::read(const char *path) noexcept
{
    if (!read_whole(path, text_, size_) || size_ > static_cast<std::size_t>(INT32_MAX)) {
        return false;
    }
    const BioPtr bio(BIO_new_mem_buf(text_.get(), static_cast<int>(size_)));
    if (!bio) {
        return false;
    }
    // The TLS library loads a file whose entries are all well formed and
    // which holds at least one certificate or revocation list.
    bool plain_certificates = true;
    int loadable = 0;
    for (;;) {
        PemEntry entry;
        const Read read = next_entry(bio.get(), entry);
        if (read == Read::end) {
            break;
        }
        if (read == Read::malformed) {
            return false;
        }
        const bool certificate = is_certificate(entry.name);
        if (certificate || std::strcmp(entry.name, PEM_STRING_X509_CRL) == 0) {
            ++loadable;
        }
        if (!certificate || (entry.header != nullptr && entry.header[0] != '\0')) {
            plain_certificates = false;
        }
    }
    certificates_only_ = plain_certificates;
    return loadable > 0;
}

bool TrustFile::decode() noexcept
{
    if (decode_outcome_ == Outcome::pending) {
        certificates_ = sk_X509_new_null();
        revocation_lists_ = sk_X509_CRL_new_null();
        const bool ok = certificates_ != nullptr && revocation_lists_ != nullptr &&
                        (certificates_only_ ? decode_certificates() : decode_any_entries());
        decode_outcome_ = ok ? Outcome::decoded : Outcome::failed;
    }
    return decode_outcome_ == Outcome::decoded;
}

// The common case: every entry a certificate, each decoded straight from
// its body.
bool TrustFile::decode_certificates() noexcept
{
    const BioPtr bio(BIO_new_mem_buf(text_.get(), static_cast<int>(size_)));
    if (!bio) {
        return false;
    }
    for (;;) {
        PemEntry entry;
        const Read read = next_entry(bio.get(), entry);
        if (read != Read::entry) {
            return read == Read::end;
        }
        const unsigned char *body = entry.data;
        X509Ptr certificate(std::strcmp(entry.name, PEM_STRING_X509_TRUSTED) == 0
                                ? d2i_X509_AUX(nullptr, &body, entry.length)
                                : d2i_X509(nullptr, &body, entry.length));
        if (!certificate || sk_X509_push(certificates_, certificate.get()) == 0) {
            return false;
        }
        certificate.release();  // the list owns it now
    }
}

// Anything else (keys, revocation lists, entries with headers): the TLS
// library's own reader, called as its CA file loading calls it.
bool TrustFile::decode_any_entries() noexcept
{
    const BioPtr bio(BIO_new_mem_buf(text_.get(), static_cast<int>(size_)));
    if (!bio) {
        return false;
    }
    const X509InfoListPtr entries(PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, const_cast<char *>("")));
    if (!entries) {
        return false;
    }
    for (int i = 0; i < sk_X509_INFO_num(entries.get()); ++i) {
        const X509_INFO *entry = sk_X509_INFO_value(entries.get(), i);
        if (entry->x509 != nullptr) {
            if (sk_X509_push(certificates_, entry->x509) == 0) {
                return false;
            }
            X509_up_ref(entry->x509);
        }
        if (entry->crl != nullptr) {
            if (sk_X509_CRL_push(revocation_lists_, entry->crl) == 0) {
                return false;
            }
            X509_CRL_up_ref(entry->crl);
        }
    }
    return true;
}

bool TrustFile::add_to(X509_STORE *store) const noexcept
{
    if (decode_outcome_ != Outcome::decoded) {
        return false;
    }
    for (int i = 0; i < sk_X509_num(certificates_); ++i) {
        if (X509_STORE_add_cert(store, sk_X509_value(certificates_, i)) != 1) {
            return false;
        }
    }
    for (int i = 0; i < sk_X509_CRL_num(revocation_lists_); ++i) {
        if (X509_STORE_add_crl(store, sk_X509_CRL_value(revocation_lists_, i)) != 1) {
            return false;
        }
    }
    return true;
}

}  // namespace dvkc::transport
