// iSSL_SendThenRecv: one HTTPS POST of a query, the raw answer handed back.
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "dvkc.h"
#include "interface/allocate.h"
#include "interface/guard.h"
#include "interface/host_error_queue.h"
#include "interface/text_buffer.h"
#include "platform/host_lookup.h"
#include "platform/socket_close.h"
#include "platform/sockets_layer.h"
#include "platform/tcp_socket.h"
#include "transport/chain_check.h"
#include "transport/http_request.h"
#include "transport/nosignal_bio.h"
#include "transport/openssl_handles.h"
#include "transport/tls_seed.h"
#include "transport/trust_file.h"

namespace dvkc::transport {
namespace {

constexpr int kReadSize = 4096;
constexpr int kMaxReads = 100;
// Room for the longest answer we accept (100 reads of 4096 bytes) and its
// NUL, whatever the body length argument says.
constexpr std::size_t kResponseCapacity = std::size_t{kReadSize} * kMaxReads + 1;

// Everything one exchange acquires. Members go from the bottom up, which is
// the teardown order: the socket first (so the server sees the TCP
// connection end without a TLS close notification), then the sockets layer,
// the request, the TLS context and connection, the server certificate and
// its name texts, the trust file's certificates, and the response unless it
// was handed over.
struct Exchange {
    std::unique_ptr<char, FreeDeleter> response;
    TrustFile trust;
    bool trust_in_store = false;  // the trust file's certificates are in the context's store
    OpenSslText issuer;
    OpenSslText subject;
    X509Ptr server_certificate;
    SslPtr connection;
    SslCtxPtr context;
    std::optional<TextBuffer> request;
    platform::SocketsLayerSession sockets_layer;
    platform::UniqueSocket socket;
};

bool initialise_tls_library() noexcept
{
    if (OPENSSL_init_ssl(0, nullptr) != 1) {
        return false;
    }
    // Algorithm tables and error strings; their loading is not a condition.
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_ADD_ALL_CIPHERS |
                         OPENSSL_INIT_ADD_ALL_DIGESTS,
                     nullptr);
    return true;
}

// Decodes the trust file and puts its certificates into the context's store
// (once); false when the file does not decode or the store refuses them.
bool load_trust(Exchange &call) noexcept
{
    if (!call.trust_in_store) {
        call.trust_in_store = call.trust.decode() && call.trust.add_to(SSL_CTX_get_cert_store(call.context.get()));
    }
    return call.trust_in_store;
}

// The socket BIO's callback during the handshake. Its first read comes once
// the ClientHello is out, when the call would only wait for the server's
// answer: the trust file is decoded then, while the server works. A file
// that does not decode fails that read, and so the handshake.
long load_trust_before_first_read(BIO *bio, int operation, const char *, std::size_t, int, long, int result,
                                  std::size_t *)
{
    if (operation == BIO_CB_READ) {
        auto *call = reinterpret_cast<Exchange *>(BIO_get_callback_arg(bio));
        if (!load_trust(*call)) {
            return -1;
        }
    }
    return result;
}

// Puts a write buffer that holds all TLS records of `plain_size` bytes of
// application data in front of the socket BIO `socket_bio` of `connection`.
// Without one (out of memory), the records are written as they come.
void gather_request_records(SSL *connection, BIO *socket_bio, std::size_t plain_size) noexcept
{
    constexpr std::size_t kRecordPlain = 16384;
    constexpr std::size_t kRecordOverhead = 64;  // header, explicit nonce, tag and content type, with room
    const std::size_t records = plain_size / kRecordPlain + 1;
    const std::size_t size = plain_size + records * kRecordOverhead;
    if (size > INT32_MAX) {
        return;
    }
    BioPtr buffer(BIO_new(BIO_f_buffer()));
    if (!buffer || BIO_set_write_buffer_size(buffer.get(), static_cast<long>(size)) != 1 ||
        BIO_up_ref(socket_bio) != 1) {
        return;
    }
    BIO_push(buffer.get(), socket_bio);  // the chain holds the reference taken above
    SSL_set0_wbio(connection, buffer.release());
}

std::int32_t send_then_receive(const char *host, std::int32_t port, const char *trust_path, const char *url_path,
                               std::int32_t body_len, const char *body, std::int32_t *out_len, char **out_buf) noexcept
{
    Exchange call;

    // Buffers. The request is sized from the texts themselves.
    const RequestParts parts{host, url_path, body_len, body};
    call.request.emplace(request_text_length(parts));
    if (!call.request->ok()) {
        return DVKC_EXCHANGE_NO_MEMORY;
    }
    call.response.reset(static_cast<char *>(allocate(kResponseCapacity)));
    if (!call.response) {
        return DVKC_EXCHANGE_NO_MEMORY;
    }
    if (!format_request(parts, *call.request)) {
        return DVKC_EXCHANGE_NO_MEMORY;  // the sizing did not hold: send nothing
    }

    // Sockets layer.
    std::uint16_t granted = 0;
    if (platform::start_sockets_layer(platform::kSocketsLayerVersion, granted) != 0) {
        return DVKC_EXCHANGE_SOCKETS_REFUSED;
    }
    call.sockets_layer.started();
    if (granted != platform::kSocketsLayerVersion) {
        return DVKC_EXCHANGE_SOCKETS_VERSION;
    }

    // TLS library and client context: verify the peer against the trust
    // file, TLS 1.2 at least; no server name, no host-name check.
    if (!initialise_tls_library()) {
        return DVKC_EXCHANGE_TLS_INIT;
    }
    call.context.reset(SSL_CTX_new(TLS_client_method()));
    if (!call.context || SSL_CTX_set_min_proto_version(call.context.get(), TLS1_2_VERSION) != 1) {
        return DVKC_EXCHANGE_TLS_CONTEXT;
    }
    SSL_CTX_set_verify(call.context.get(), SSL_VERIFY_PEER, nullptr);
    // The trust file is read and its framing checked now; its certificates
    // are decoded while the handshake waits for the server (below).
    if (!call.trust.read(trust_path)) {
        return DVKC_EXCHANGE_TRUST_FILE;
    }
    add_seed_block();
    // A trust file that would not have loaded fails the call with -6 whatever
    // happens later, so every failure from here to the handshake decodes it
    // first.
    const auto failed = [&call](std::int32_t result) noexcept {
        return load_trust(call) ? result : DVKC_EXCHANGE_TRUST_FILE;
    };

    // TCP connection.
    call.socket = platform::UniqueSocket(platform::open_tcp_socket());
    if (!call.socket.valid()) {
        return failed(DVKC_EXCHANGE_SOCKET);
    }
    std::uint32_t address = 0;
    if (!platform::find_ipv4_address(host, address)) {
        return failed(DVKC_EXCHANGE_RESOLVE);
    }
    if (!platform::connect_ipv4(call.socket.get(), address, static_cast<std::uint16_t>(port))) {
        return failed(DVKC_EXCHANGE_CONNECT);
    }

    // TLS connection over our own socket BIO, handshake, chain check.
    call.connection.reset(SSL_new(call.context.get()));
    if (!call.connection) {
        return failed(DVKC_EXCHANGE_TLS_CONNECTION);
    }
    BIO *bio = new_nosignal_socket_bio(call.socket.get());
    if (bio == nullptr) {
        return failed(DVKC_EXCHANGE_TLS_ATTACH);
    }
    SSL_set_bio(call.connection.get(), bio, bio);  // the connection owns the BIO now
    BIO_set_callback_arg(bio, reinterpret_cast<char *>(&call));
    BIO_set_callback_ex(bio, load_trust_before_first_read);
    const int handshake = SSL_connect(call.connection.get());
    BIO_set_callback_ex(bio, nullptr);
    if (handshake <= 0) {
        return failed(DVKC_EXCHANGE_HANDSHAKE);
    }
    if (!load_trust(call)) {
        return DVKC_EXCHANGE_TRUST_FILE;  // a handshake that never read: cannot happen, but never unchecked
    }
    if (iVerifyServerChain(call.connection.get(), call.trust.certificates()) != 0) {
        return DVKC_EXCHANGE_CHAIN_KEY;
    }
    call.server_certificate.reset(SSL_get1_peer_certificate(call.connection.get()));
    if (!call.server_certificate) {
        return DVKC_EXCHANGE_NO_SERVER_CERT;
    }
    call.subject.reset(X509_NAME_oneline(X509_get_subject_name(call.server_certificate.get()), nullptr, 0));
    if (!call.subject) {
        return DVKC_EXCHANGE_SUBJECT_NAME;
    }
    call.issuer.reset(X509_NAME_oneline(X509_get_issuer_name(call.server_certificate.get()), nullptr, 0));
    if (!call.issuer) {
        return DVKC_EXCHANGE_ISSUER_NAME;
    }

    // The request in one write, then the answer until the server closes.
    // Its TLS records leave in one send: sent one by one, each after the
    // first would wait for the server's delayed acknowledgement (Nagle).
    gather_request_records(call.connection.get(), bio, call.request->size());
    std::size_t written = 0;
    if (SSL_write_ex(call.connection.get(), call.request->data(), call.request->size(), &written) != 1 ||
        BIO_flush(SSL_get_wbio(call.connection.get())) != 1) {
        return DVKC_EXCHANGE_WRITE;
    }
    char *response = call.response.get();
    std::size_t received = 0;
    for (int i = 0; i < kMaxReads; ++i) {
        const int count = SSL_read(call.connection.get(), response + received, kReadSize);
        if (count <= 0) {
            break;
        }
        received += static_cast<std::size_t>(count);
    }
    response[received] = '\0';

    *out_len = static_cast<std::int32_t>(std::strlen(response));
    *out_buf = call.response.release();
    return DVKC_EXCHANGE_OK;
}

}  // namespace
}  // namespace dvkc::transport

extern "C" std::int32_t iSSL_SendThenRecv(const char *host, std::int32_t port, const char *trust_path,
                                          const char *url_path, std::int32_t body_len, const char *body,
                                          std::int32_t *out_len, char **out_buf) noexcept
{
    const dvkc::HostErrorQueue host_errors;
    DVKC_REQUIRE_NONNULL(host, DVKC_EXCHANGE_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(trust_path, DVKC_EXCHANGE_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(url_path, DVKC_EXCHANGE_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(body, DVKC_EXCHANGE_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(out_len, DVKC_EXCHANGE_NO_MEMORY);
    DVKC_REQUIRE_NONNULL(out_buf, DVKC_EXCHANGE_NO_MEMORY);
    return dvkc::transport::send_then_receive(host, port, trust_path, url_path, body_len, body, out_len, out_buf);
}
