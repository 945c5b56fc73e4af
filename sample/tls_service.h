// An HTTPS service on a thread of the calling process, for tests and for the
// command-line tool's sample service.
//
// It listens on 127.0.0.1 (ephemeral port unless told otherwise), runs the
// TLS handshake with the identity it was given, reads one HTTP request per
// connection (headers up to the empty line, then Content-length bytes of
// body, or until the client stops sending), hands the raw bytes to the
// handler and writes back whatever the handler returns, then closes the
// connection (close_notify, then a lingering close that waits for the client
// to hang up). SIGPIPE is blocked in the service's own threads, so a client
// that hangs up early never signals the process.
//
// Every option has a default, so designated initializers may name only
// what they change:
//
//   TlsService service({.identity = pki.full_chain, .concurrent = true}, echo_handler());
//   service.start();
//   ... iSSL_SendThenRecv("127.0.0.1", service.port(), ...) ...
//   service.stop();
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tls_identity.h"

namespace dvkc::sample {

// One request as the service received it.
struct ServiceRequest {
    std::string_view raw;   // every byte received, exactly as received
    std::string_view peer;  // the client's address, e.g. "127.0.0.1:54321"
};

// Returns the bytes to send back (status line, headers and body, as wanted).
// An exception closes that connection without an answer; the service goes on.
// With `concurrent` set it is called from several threads at once.
using Handler = std::function<std::string(const ServiceRequest &request)>;

// What the service does on each connection once the handshake is done.
enum class Behaviour {
    answer,                 // read the request, call the handler, send its answer
    close_after_handshake,  // close at once, reading nothing and answering nothing
    // Hostile peers:
    close_before_handshake,  // close as soon as the TCP connection is accepted
    close_during_handshake,  // read the first bytes of the client's hello, then close
    plain_text,              // no TLS: read what comes first, send the handler's answer in clear
    reset_mid_answer,        // send the first half of the answer, then reset the connection
};

struct ServiceOptions {
    TlsIdentity identity{};  // required
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = 0;  // 0: an ephemeral port (see port())
    Behaviour behaviour = Behaviour::answer;
    std::size_t write_size = 0;                  // 0: the answer in one write; else writes of at most this many bytes
    bool send_close_notify = true;               // false: the answer ends with a bare TCP close
    std::size_t max_request_bytes = 16U << 20U;  // reading stops there; the handler gets what came
    bool concurrent = false;                     // true: one thread per connection, up to max_connections at once
    std::size_t max_connections = 32;            // beyond: new connections wait in the listen backlog (see below)
    bool record_requests = true;                 // keep every raw request for requests()
    bool no_delay = true;                        // TCP_NODELAY on every connection
    int idle_timeout_ms = 0;                     // > 0: a connection silent (or stuck) this long is closed
    // With every worker taken and a connection waiting to be accepted, the
    // connection idle longest is closed to make room for it, if it has been
    // idle at least this long: idle means waiting for its request (from the
    // accept on) or for the client to hang up after its answer, never while
    // it is being answered. Until then the new connection waits in the
    // backlog; a client is never closed for another in its first moments.
    int evict_idle_after_ms = 1000;
    // > 0: a connection is closed this long after it was accepted, whatever
    // it does (a concurrent service only).
    int connection_deadline_ms = 0;
    int min_tls_version = 0;  // e.g. TLS1_2_VERSION; 0: OpenSSL's default
    int max_tls_version = 0;
    int security_level = -1;  // -1: OpenSSL's default
    // Told about connections that end without an answer (failed handshake,
    // handler exception, write failure). Called from the service's threads,
    // concurrently when `concurrent` is set.
    std::function<void(std::string_view what)> on_error{};
};

class TlsService {
public:
    // Loads the identity and binds the listening socket; throws
    // std::runtime_error when either fails. Nothing is accepted before start().
    TlsService(ServiceOptions options, Handler handler);
    TlsService(const TlsService &) = delete;
    TlsService &operator=(const TlsService &) = delete;
    ~TlsService();  // stop()

    void start();  // starts accepting on a thread of its own
    // Stops accepting, ends the connections in progress and joins every
    // thread. Idempotent; safe to call whether or not start() was called.
    void stop();

    std::uint16_t port() const noexcept;

    // Raw requests received so far, in the order they were completed.
    std::vector<std::string> requests() const;
    std::size_t connections_accepted() const noexcept;  // TCP connections
    std::size_t handshakes_completed() const noexcept;
    std::size_t answers_sent() const noexcept;  // answers written whole

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A handler that sends `bytes` whatever the request.
Handler fixed_answer(std::string bytes);

}  // namespace dvkc::sample
