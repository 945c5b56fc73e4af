// Loading the library, running an exchange and unloading it, again and again,
// leaves nothing behind: OpenSSL memory in use stays flat from the second
// cycle on (the first sets up OpenSSL's process-wide tables). Its own program:
// OpenSSL's allocations are counted from the first, which no other test
// program can promise.
//
//   unload_test LIBRARY
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::atomic<long> bytes_in_use{0};

// Each block carries its size in front of it.
constexpr std::size_t kHeader = 16;

void *counted_malloc(std::size_t size, const char *, int)
{
    auto *block = static_cast<unsigned char *>(std::malloc(size + kHeader));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    bytes_in_use += static_cast<long>(size);
    return block + kHeader;
}

void counted_free(void *pointer, const char *, int)
{
    if (pointer == nullptr) {
        return;
    }
    unsigned char *block = static_cast<unsigned char *>(pointer) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    bytes_in_use -= static_cast<long>(size);
    std::free(block);
}

void *counted_realloc(void *pointer, std::size_t size, const char *file, int line)
{
    void *grown = counted_malloc(size, file, line);
    if (grown != nullptr && pointer != nullptr) {
        std::size_t old_size = 0;
        std::memcpy(&old_size, static_cast<unsigned char *>(pointer) - kHeader, sizeof old_size);
        std::memcpy(grown, pointer, old_size < size ? old_size : size);
        counted_free(pointer, file, line);
    }
    return grown;
}

int fail(const char *what)
{
    std::fprintf(stderr, "unload_test: %s\n", what);
    return 1;
}

// A self-signed certificate in a file: a trust file that loads.
bool write_trust_file(const char *path)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *certificate = X509_new();
    bool ok = key != nullptr && certificate != nullptr;
    if (ok) {
        X509_NAME *name = X509_get_subject_name(certificate);
        ok = X509_set_version(certificate, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1) == 1 &&
             X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
             X509_gmtime_adj(X509_getm_notAfter(certificate), 3600) != nullptr &&
             X509_set_pubkey(certificate, key) == 1 &&
             X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("unload"), -1,
                                        -1, 0) == 1 &&
             X509_set_issuer_name(certificate, name) == 1 && X509_sign(certificate, key, EVP_sha256()) > 0;
    }
    std::FILE *file = ok ? std::fopen(path, "w") : nullptr;
    ok = file != nullptr && PEM_write_X509(file, certificate) == 1;
    if (file != nullptr) {
        std::fclose(file);
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
    return ok;
}

using Exchange = std::int32_t (*)(const char *, std::int32_t, const char *, const char *, std::int32_t, const char *,
                                  std::int32_t *, char **);

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        return fail("usage: unload_test LIBRARY");
    }
    if (CRYPTO_set_mem_functions(counted_malloc, counted_realloc, counted_free) != 1) {
        return fail("OpenSSL allocated before main");
    }
    char trust[] = "/tmp/dvkc-unload-XXXXXX";
    const int trust_descriptor = ::mkstemp(trust);
    if (trust_descriptor < 0) {
        return fail("no temporary file");
    }
    ::close(trust_descriptor);
    const bool trust_written = write_trust_file(trust);

    // A listener that takes each connection and closes it: the handshake
    // fails (-12) once the socket BIO has been made.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!trust_written || listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(listener, 8) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        ::unlink(trust);
        return fail("no trust file or listener");
    }
    constexpr int kCycles = 6;
    std::thread closer([listener] {
        for (int i = 0; i < kCycles; ++i) {
            const int connection = ::accept(listener, nullptr, nullptr);
            if (connection >= 0) {
                ::close(connection);
            }
        }
    });

    long after_first = 0;
    int status = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        void *library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        auto exchange =
            library != nullptr ? reinterpret_cast<Exchange>(::dlsym(library, "iSSL_SendThenRecv")) : nullptr;
        if (exchange == nullptr) {
            status = fail("cannot load the library");
            break;
        }
        std::int32_t length = 0;
        char *answer = nullptr;
        const std::int32_t result =
            exchange("127.0.0.1", ntohs(address.sin_port), trust, "/", 1, "X", &length, &answer);
        ::dlclose(library);
        if (result != -12) {
            std::fprintf(stderr, "unload_test: exchange gave %d, not -12\n", result);
            status = 1;
            break;
        }
        if (cycle == 0) {
            after_first = bytes_in_use;
        }
    }
    closer.join();
    ::close(listener);
    ::unlink(trust);
    const long growth = bytes_in_use - after_first;
    std::printf("OpenSSL bytes in use: %ld after the first cycle, %ld after %d\n", after_first, bytes_in_use.load(),
                kCycles);
    if (status == 0 && growth != 0) {
        std::fprintf(stderr, "unload_test: %ld bytes more in use after %d more cycles\n", growth, kCycles - 1);
        status = 1;
    }
    return status;
}
