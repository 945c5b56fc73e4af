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
#include "interface/openssl_start.h"
#include "interface/text_buffer.h"
#include "platform/host_lookup.h"
#include "platform/socket_close.h"
#include "platform/sockets_layer.h"
#include "platform/tcp_socket.h"
#include "transport/chain_check.h"
#include "transport/http_request.h"
#include "transport/nosignal_bio.h"
#include "transport/openssl_handles.h"
#include "transport/request_records.h"
#include "transport/tls_seed.h"
#include "transport/trust_file.h"

namespace dvkc::transport {
namespace {

// The answer: at most 100 reads of at most 4096 bytes, DVKC_ANSWER_MAX in all.
constexpr int kReadSize = 4096;
constexpr int kMaxReads = DVKC_ANSWER_MAX / kReadSize;
static_assert(std::size_t{kReadSize} * kMaxReads == DVKC_ANSWER_MAX && kMaxReads == 100);
// Room for the longest answer we accept and its NUL, whatever the body
// length argument says.
constexpr std::size_t kResponseCapacity = std::size_t{DVKC_ANSWER_MAX} + 1;

// Everything one exchange acquires. Members go from the bottom up, which is
// the teardown order: the socket first (so the server sees the TCP
// connection end without a TLS close notification), then the sockets layer,
// the request, the TLS context and connection, the server certificate and
// its name texts, the trust file's certificates, and the response unless it
// was handed over.
struct Exchange {
    std::unique_ptr<char, FreeDeleter> response;
    TrustFile trust;
    OpenSslText issuer;
    OpenSslText subject;
    X509Ptr server_certificate;
    SslPtr connection;
    SslCtxPtr context;
    std::optional<TextBuffer> request;
    platform::SocketsLayerSession sockets_layer;
    platform::UniqueSocket socket;
};

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
    if (!start_openssl(OpenSslPart::tls)) {
        return DVKC_EXCHANGE_TLS_INIT;
    }
    call.context.reset(SSL_CTX_new(TLS_client_method()));
    if (!call.context || SSL_CTX_set_min_proto_version(call.context.get(), TLS1_2_VERSION) != 1) {
        return DVKC_EXCHANGE_TLS_CONTEXT;
    }
    SSL_CTX_set_verify(call.context.get(), SSL_VERIFY_PEER, nullptr);
    // The trust file, read and decoded whole before any connection is made.
    if (!call.trust.load(trust_path) || !call.trust.add_to(SSL_CTX_get_cert_store(call.context.get()))) {
        return DVKC_EXCHANGE_TRUST_FILE;
    }
    add_seed_block();

    // TCP connection.
    call.socket = platform::UniqueSocket(platform::open_tcp_socket());
    if (!call.socket.valid()) {
        return DVKC_EXCHANGE_SOCKET;
    }
    std::uint32_t address = 0;
    if (!platform::find_ipv4_address(host, address)) {
        return DVKC_EXCHANGE_RESOLVE;
    }
    if (!platform::connect_ipv4(call.socket.get(), address, static_cast<std::uint16_t>(port))) {
        return DVKC_EXCHANGE_CONNECT;
    }

    // TLS connection over our own socket BIO, handshake, chain check.
    call.connection.reset(SSL_new(call.context.get()));
    if (!call.connection) {
        return DVKC_EXCHANGE_TLS_CONNECTION;
    }
    BIO *bio = new_nosignal_socket_bio(call.socket.get());
    if (bio == nullptr) {
        return DVKC_EXCHANGE_TLS_ATTACH;
    }
    SSL_set_bio(call.connection.get(), bio, bio);  // the connection owns the BIO now
    if (SSL_connect(call.connection.get()) <= 0) {
        return DVKC_EXCHANGE_HANDSHAKE;
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

    // The request in one write and one send, then the answer until the
    // server closes.
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
