#include "check/server_inspection.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "check/check_openssl.h"
#include "check/host_address.h"
#include "common/sigpipe_block.h"

namespace dvkc::tool {
namespace {

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// OpenSSL's words for the failure at the end of its error queue, the queue emptied.
std::string tls_failure(int *reason = nullptr)
{
    const unsigned long error = ERR_peek_last_error();
    if (reason != nullptr) {
        *reason = ERR_GET_REASON(error);
    }
    const char *words = ERR_reason_error_string(error);
    ERR_clear_error();
    return words != nullptr ? words : "the connection ended during the handshake";
}

// Records every verification error and lets the handshake go on.
int record_and_continue(int ok, X509_STORE_CTX *store)
{
    if (ok == 0) {
        const auto *connection =
            static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto *errors = static_cast<std::vector<VerifyError> *>(SSL_get_app_data(connection));
        const int code = X509_STORE_CTX_get_error(store);
        errors->push_back({code, X509_STORE_CTX_get_error_depth(store), X509_verify_cert_error_string(code)});
    }
    return 1;
}

// TCP connection to `address`:`port`; the socket is -1 inside on failure.
bool connect_to(const Socket &socket, std::uint32_t address, std::uint16_t port, std::string &failure)
{
    if (socket.get() < 0) {
        failure = std::string("no TCP socket: ") + std::generic_category().message(errno);
        return false;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
        failure = std::generic_category().message(errno);
        return false;
    }
    return true;
}

// Whether the server completes a handshake at TLS 1.0 or 1.1 (OpenSSL's
// security level 0, nothing verified): which old version it speaks.
std::string old_version_spoken(std::uint32_t address, std::uint16_t port)
{
    const SslCtxHandle context(SSL_CTX_new(TLS_client_method()));
    const Socket socket;
    std::string ignored;
    if (!context || !connect_to(socket, address, port, ignored)) {
        return {};
    }
    SSL_CTX_set_security_level(context.get(), 0);
    if (SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context.get(), TLS1_1_VERSION) != 1) {
        return {};
    }
    const SslHandle connection(SSL_new(context.get()));
    std::string version;
    if (connection && SSL_set_fd(connection.get(), socket.get()) == 1 && SSL_connect(connection.get()) == 1) {
        version = SSL_get_version(connection.get());
    }
    ERR_clear_error();
    return version;
}

}  // namespace

ServerInspection inspect_server(const std::string &host, std::uint16_t port, const std::string &trust_file)
{
    ServerInspection seen;
    const std::optional<HostAddress> address = find_host_address(host);
    if (!address) {
        seen.failure = "the host name " + host + " does not resolve to an IPv4 address";
        return seen;
    }
    seen.reached = ServerInspection::Reached::address;
    seen.address = dotted(address->address);
    seen.address_how = address->how;

    const SigpipeBlock no_sigpipe;
    const Socket socket;
    if (!connect_to(socket, address->address, port, seen.failure)) {
        return seen;
    }
    seen.reached = ServerInspection::Reached::connection;

    // The library's client context: TLS 1.2 at least, the peer verified
    // against the trust file alone, no server name.
    const SslCtxHandle context(SSL_CTX_new(TLS_client_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_load_verify_locations(context.get(), trust_file.c_str(), nullptr) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot set up a TLS client context for " + trust_file);
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, record_and_continue);
    const SslHandle connection(SSL_new(context.get()));
    if (!connection || SSL_set_fd(connection.get(), socket.get()) != 1) {
        ERR_clear_error();
        throw std::runtime_error("cannot set up a TLS connection");
    }
    SSL_set_app_data(connection.get(), &seen.verify_errors);
    if (SSL_connect(connection.get()) != 1) {
        int reason = 0;
        seen.failure = tls_failure(&reason);
        seen.protocol_refused = reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION || reason == SSL_R_UNSUPPORTED_PROTOCOL ||
                                reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_WRONG_SSL_VERSION;
        if (seen.protocol_refused) {
            seen.old_version = old_version_spoken(address->address, port);
        }
        return seen;
    }
    seen.reached = ServerInspection::Reached::handshake;
    seen.tls_version = SSL_get_version(connection.get());
    seen.cipher = SSL_get_cipher_name(connection.get());
    if (STACK_OF(X509) *chain = SSL_get_peer_cert_chain(connection.get()); chain != nullptr) {
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            seen.presented.push_back(certificate_facts(sk_X509_value(chain, i)));
        }
    }
    ERR_clear_error();
    return seen;  // the socket closes without a word more, as the library's does on failure
}

}  // namespace dvkc::tool
