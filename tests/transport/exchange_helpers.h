// Shared by the exchange tests: one throwaway PKI per test program, services
// on 127.0.0.1, and a call of iSSL_SendThenRecv whose out-parameters show
// whether they were written.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "dvkc.h"
#include "service_socket.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tls_service.h"

namespace dvkc::test {

// The sample service's building blocks, by their plain names in these tests.
using namespace dvkc::sample;

// Made on first use and removed when the program ends.
inline const ThrowawayPki &shared_pki()
{
    static const TempDir dir;
    static const ThrowawayPki pki = make_throwaway_pki(dir.path());
    return pki;
}

inline std::unique_ptr<TlsService> start_service(ServiceOptions options, Handler handler)
{
    auto service = std::make_unique<TlsService>(std::move(options), std::move(handler));
    service->start();
    return service;
}

inline std::unique_ptr<TlsService> start_service(const TlsIdentity &identity, Handler handler)
{
    ServiceOptions options;
    options.identity = identity;
    return start_service(std::move(options), std::move(handler));
}

inline constexpr std::int32_t kUntouchedLength = -424242;
inline char untouched_marker = '\0';

// The outcome of one exchange; owns the answer buffer when one was returned.
struct Received {
    std::int32_t result = 0;
    std::int32_t length = kUntouchedLength;
    char *buffer = &untouched_marker;

    Received() = default;
    Received(const Received &) = delete;
    Received &operator=(const Received &) = delete;
    Received(Received &&other) noexcept : result(other.result), length(other.length), buffer(other.buffer)
    {
        other.length = kUntouchedLength;
        other.buffer = &untouched_marker;
    }
    Received &operator=(Received &&) = delete;
    ~Received()
    {
        if (buffer != &untouched_marker) {
            vFreeData(buffer);
        }
    }

    bool out_parameters_untouched() const { return length == kUntouchedLength && buffer == &untouched_marker; }
    std::string text() const
    {
        return length < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(length));
    }
};

struct Call {
    std::string host = "127.0.0.1";
    std::int32_t port = 0;
    std::string trust;
    std::string path = "/p";
    std::string body = "X";
    std::optional<std::int32_t> body_len;  // the body's length unless given
};

inline Received send_request(const Call &call)
{
    Received out;
    const std::int32_t body_len = call.body_len.value_or(static_cast<std::int32_t>(call.body.size()));
    out.result = iSSL_SendThenRecv(call.host.c_str(), call.port, call.trust.c_str(), call.path.c_str(), body_len,
                                   call.body.c_str(), &out.length, &out.buffer);
    return out;
}

inline Received send_request(std::int32_t port, const std::string &trust)
{
    Call call;
    call.port = port;
    call.trust = trust;
    return send_request(call);
}

// Whether the TLS library's own CA-file load accepts the file at `path`
// (its errors are dropped).
inline bool tls_library_loads_ca_file(const std::string &path)
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    const bool loaded = context != nullptr && SSL_CTX_load_verify_locations(context, path.c_str(), nullptr) == 1;
    SSL_CTX_free(context);
    ERR_clear_error();
    return loaded;
}

// A port on 127.0.0.1 that is bound but never listened on: a connect to it
// is refused, and no other program can take the port meanwhile.
class RefusingPort {
public:
    RefusingPort()
    {
        std::uint16_t bound = 0;
        socket_ = net::bind_without_listening("127.0.0.1", bound);
        port_ = bound;
    }
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    ~RefusingPort() { net::close(socket_); }

    std::int32_t port() const { return port_; }

private:
    net::Socket socket_ = net::kNoSocket;
    std::int32_t port_ = 0;
};

}  // namespace dvkc::test
