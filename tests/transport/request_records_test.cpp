// The request's TLS records leave in one send whatever suite the connection
// uses: here the one with the most overhead per record, TLS 1.2 AES-256-CBC
// with SHA-384 (up to 85 bytes a record).
#include "transport/request_records.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <string>

#include "exchange_helpers.h"
#include "transport/openssl_handles.h"

namespace dvkc::test {
namespace {

int sends = 0;

long count_sends(BIO *, int operation, const char *, std::size_t, int, long, int result, std::size_t *processed)
{
    if (operation == (BIO_CB_WRITE | BIO_CB_RETURN) && result > 0 && processed != nullptr && *processed > 0) {
        ++sends;
    }
    return result;
}

TEST(RequestRecords, FortyThousandBytesLeaveInOneSend)
{
    const ThrowawayPki &pki = shared_pki();
    const transport::SslCtxPtr server_context(SSL_CTX_new(TLS_server_method()));
    const transport::SslCtxPtr client_context(SSL_CTX_new(TLS_client_method()));
    ASSERT_TRUE(server_context && client_context);
    ASSERT_EQ(SSL_CTX_use_certificate_chain_file(server_context.get(), pki.full_chain.chain_file.c_str()), 1);
    ASSERT_EQ(SSL_CTX_use_PrivateKey_file(server_context.get(), pki.full_chain.key_file.c_str(), SSL_FILETYPE_PEM), 1);
    ASSERT_EQ(SSL_CTX_set_max_proto_version(server_context.get(), TLS1_2_VERSION), 1);
    ASSERT_EQ(SSL_CTX_set_cipher_list(server_context.get(), "ECDHE-ECDSA-AES256-SHA384"), 1);

    const transport::SslPtr client(SSL_new(client_context.get()));
    const transport::SslPtr server(SSL_new(server_context.get()));
    BIO *client_end = nullptr;
    BIO *server_end = nullptr;
    ASSERT_EQ(BIO_new_bio_pair(&client_end, 1U << 20U, &server_end, 1U << 20U), 1);
    SSL_set_bio(client.get(), client_end, client_end);
    SSL_set_bio(server.get(), server_end, server_end);
    SSL_set_connect_state(client.get());
    SSL_set_accept_state(server.get());
    for (int round = 0;
         round < 20 && (SSL_is_init_finished(client.get()) == 0 || SSL_is_init_finished(server.get()) == 0); ++round) {
        SSL_do_handshake(client.get());
        SSL_do_handshake(server.get());
    }
    ASSERT_EQ(SSL_is_init_finished(client.get()), 1);
    ASSERT_STREQ(SSL_get_cipher_name(client.get()), "ECDHE-ECDSA-AES256-SHA384");

    const std::string request(40000, 'r');
    transport::gather_request_records(client.get(), client_end, request.size());
    BIO_set_callback_ex(client_end, count_sends);
    std::size_t written = 0;
    ASSERT_EQ(SSL_write_ex(client.get(), request.data(), request.size(), &written), 1);
    ASSERT_EQ(BIO_flush(SSL_get_wbio(client.get())), 1);
    BIO_set_callback_ex(client_end, nullptr);
    EXPECT_EQ(sends, 1);

    std::string received(request.size(), '\0');
    std::size_t got = 0;
    std::size_t total = 0;
    while (total < received.size() &&
           SSL_read_ex(server.get(), received.data() + total, received.size() - total, &got) == 1) {
        total += got;
    }
    EXPECT_EQ(received, request);
}

}  // namespace
}  // namespace dvkc::test
