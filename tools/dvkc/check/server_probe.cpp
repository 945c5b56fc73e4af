#include "check/server_probe.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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

// Whether `certificate` is one of those the server sent.
bool sent_by_server(X509 *certificate, X509_STORE_CTX *store)
{
    STACK_OF(X509) *sent = X509_STORE_CTX_get0_untrusted(store);
    if (X509_STORE_CTX_get0_cert(store) != nullptr && X509_cmp(X509_STORE_CTX_get0_cert(store), certificate) == 0) {
        return true;
    }
    for (int i = 0; sent != nullptr && i < sk_X509_num(sent); ++i) {
        if (X509_cmp(sk_X509_value(sent, i), certificate) == 0) {
            return true;
        }
    }
    return false;
}

// Records every verification error, with the certificate of the chain
// OpenSSL built that it concerns, and lets the handshake go on, so that
// everything presented can be shown.
int record_and_continue(int ok, X509_STORE_CTX *store)
{
    if (ok == 0) {
        const auto *connection =
            static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto *errors = static_cast<std::vector<VerifyError> *>(SSL_get_app_data(connection));
        const int code = X509_STORE_CTX_get_error(store);
        VerifyError error{code, X509_STORE_CTX_get_error_depth(store), X509_verify_cert_error_string(code), {}, false};
        if (X509 *certificate = X509_STORE_CTX_get_current_cert(store); certificate != nullptr) {
            error.certificate = certificate_facts(certificate);
            error.from_trust_file = !sent_by_server(certificate, store);
        }
        errors->push_back(std::move(error));
    }
    return 1;
}

using Clock = std::chrono::steady_clock;

// The end of the time allowed, if any.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit) : unlimited_(limit.count() <= 0), end_(Clock::now() + limit) {}

    // What is left, for poll(): -1 without a limit.
    int poll_ms() const
    {
        if (unlimited_) {
            return -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left < 0 ? 0 : static_cast<int>(left);
    }

private:
    bool unlimited_;
    Clock::time_point end_;
};

// Waits until `fd` is ready for `events`; false when the time ran out.
bool wait_ready(int fd, short events, const Deadline &deadline)
{
    for (;;) {
        pollfd watched{fd, events, 0};
        const int ready = ::poll(&watched, 1, deadline.poll_ms());
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready != 0;  // an error: the next call on the socket tells it
    }
}

enum class Outcome { done, failed, timed_out };

// TCP connection to `address`:`port` before the deadline; the socket stays
// non-blocking for the handshake.
Outcome connect_to(const Socket &socket, std::uint32_t address, std::uint16_t port, const Deadline &deadline,
                   std::string &failure)
{
    if (socket.get() < 0 || ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL) | O_NONBLOCK) != 0) {
        failure = std::string("no TCP socket: ") + std::generic_category().message(errno);
        return Outcome::failed;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) {
        return Outcome::done;
    }
    if (errno != EINPROGRESS) {
        failure = std::generic_category().message(errno);
        return Outcome::failed;
    }
    if (!wait_ready(socket.get(), POLLOUT, deadline)) {
        return Outcome::timed_out;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        failure = std::generic_category().message(error != 0 ? error : errno);
        return Outcome::failed;
    }
    return Outcome::done;
}

// SSL_connect on the non-blocking socket until it ends or the time runs out.
Outcome handshake(SSL *connection, int fd, const Deadline &deadline)
{
    for (;;) {
        const int result = SSL_connect(connection);
        if (result == 1) {
            return Outcome::done;
        }
        const int wanted = SSL_get_error(connection, result);
        if (wanted != SSL_ERROR_WANT_READ && wanted != SSL_ERROR_WANT_WRITE) {
            return Outcome::failed;
        }
        if (!wait_ready(fd, wanted == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
            return Outcome::timed_out;
        }
    }
}

// Whether the server completes a handshake at TLS 1.0 or 1.1 (OpenSSL's
// security level 0, nothing verified): which old version it speaks.
std::string old_version_spoken(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds limit)
{
    const Deadline deadline(limit);
    const SslCtxHandle context(SSL_CTX_new(TLS_client_method()));
    const Socket socket;
    std::string ignored;
    if (!context || connect_to(socket, address, port, deadline, ignored) != Outcome::done) {
        return {};
    }
    SSL_CTX_set_security_level(context.get(), 0);
    if (SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context.get(), TLS1_1_VERSION) != 1) {
        return {};
    }
    const SslHandle connection(SSL_new(context.get()));
    std::string version;
    if (connection && SSL_set_fd(connection.get(), socket.get()) == 1 &&
        handshake(connection.get(), socket.get(), deadline) == Outcome::done) {
        version = SSL_get_version(connection.get());
    }
    ERR_clear_error();
    return version;
}

}  // namespace

ServerProbe inspect_server(const std::string &host, std::uint16_t port, const std::string &trust_file,
                           std::chrono::milliseconds limit)
{
    ServerProbe seen;
    const std::optional<HostAddress> address = find_host_address(host);
    if (!address) {
        seen.failure = "the host name " + host + " does not resolve to an IPv4 address";
        return seen;
    }
    seen.reached = ServerProbe::Reached::address;
    seen.address = dotted(address->address);
    seen.address_how = address->how;
    seen.address_not_dotted = address->not_dotted;

    const SigpipeBlock no_sigpipe;
    const Deadline deadline(limit);
    const Socket socket;
    if (const Outcome connected = connect_to(socket, address->address, port, deadline, seen.failure);
        connected != Outcome::done) {
        seen.timed_out = connected == Outcome::timed_out;
        return seen;
    }
    seen.reached = ServerProbe::Reached::connection;

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
    if (const Outcome shaken = handshake(connection.get(), socket.get(), deadline); shaken != Outcome::done) {
        if (shaken == Outcome::timed_out) {
            ERR_clear_error();
            seen.timed_out = true;
            return seen;
        }
        int reason = 0;
        seen.failure = tls_failure(&reason);
        seen.protocol_refused = reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION || reason == SSL_R_UNSUPPORTED_PROTOCOL ||
                                reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_WRONG_SSL_VERSION;
        if (seen.protocol_refused) {
            seen.old_version = old_version_spoken(address->address, port, limit);
        }
        return seen;
    }
    seen.reached = ServerProbe::Reached::handshake;
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
