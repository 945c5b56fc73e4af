#include "tls_service.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <list>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "http_framing.h"
#include "service_socket.h"

namespace dvkc::sample {
namespace {

struct SslCtxDeleter {
    void operator()(SSL_CTX *context) const noexcept { SSL_CTX_free(context); }
};
struct SslDeleter {
    void operator()(SSL *connection) const noexcept { SSL_free(connection); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

// The reason of the oldest queued OpenSSL error (the queue is emptied).
std::string openssl_reason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "no OpenSSL reason";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error("TLS service: " + what);
}

using net::Socket;

// A socket closed when its owner goes, also when a constructor throws.
class Descriptor {
public:
    Descriptor() noexcept = default;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (socket_ != net::kNoSocket) {
            net::close(socket_);
        }
    }

    void adopt(Socket socket) noexcept { socket_ = socket; }
    Socket get() const noexcept { return socket_; }

private:
    Socket socket_ = net::kNoSocket;
};

SslCtxPtr make_context(const ServiceOptions &options)
{
    SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
    if (!context) {
        fail("SSL_CTX_new: " + openssl_reason());
    }
    SSL_CTX *ctx = context.get();
    if (options.security_level >= 0) {
        SSL_CTX_set_security_level(ctx, options.security_level);
    }
    if ((options.min_tls_version != 0 && SSL_CTX_set_min_proto_version(ctx, options.min_tls_version) != 1) ||
        (options.max_tls_version != 0 && SSL_CTX_set_max_proto_version(ctx, options.max_tls_version) != 1)) {
        fail("TLS versions: " + openssl_reason());
    }
    // Present exactly the chain file's certificates, nothing built on top.
    SSL_CTX_set_mode(ctx, SSL_MODE_NO_AUTO_CHAIN);
    if (SSL_CTX_use_certificate_chain_file(ctx, options.identity.chain_file.c_str()) != 1) {
        fail("certificate chain " + options.identity.chain_file + ": " + openssl_reason());
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, options.identity.key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        fail("private key " + options.identity.key_file + ": " + openssl_reason());
    }
    return context;
}

}  // namespace

struct TlsService::State {
    struct Worker {
        std::thread thread;
        bool finished = false;
    };

    ServiceOptions options;
    Handler handler;
    SslCtxPtr context;
    Descriptor listener;
    net::Waker waker;  // woken once by stop() to end the accept loop
    std::uint16_t port = 0;
    std::thread acceptor;

    std::mutex mutex;  // guards everything below but the counters
    std::condition_variable changed;
    bool started = false;
    bool stopping = false;
    std::set<Socket> open_connections;  // shut down by stop() to end blocked reads and writes
    std::list<Worker> workers;
    std::size_t busy = 0;
    std::list<Socket> waiting;  // connections yet to deliver their request, oldest first
    std::vector<std::string> requests;

    std::atomic<std::size_t> accepted{0};
    std::atomic<std::size_t> handshakes{0};
    std::atomic<std::size_t> answers{0};

    State(ServiceOptions service_options, Handler service_handler)
        : options(std::move(service_options)), handler(std::move(service_handler))
    {
        if (!handler) {
            fail("no handler");
        }
        context = make_context(options);
        try {
            listener.adopt(net::listen_ipv4(options.bind_address, options.port, port));
        } catch (const std::runtime_error &error) {
            fail(error.what());
        }
    }
    State(const State &) = delete;
    State &operator=(const State &) = delete;
    ~State() = default;

    void report(const std::string &what) const
    {
        if (options.on_error) {
            options.on_error(what);
        }
    }

    // Joins the workers that are done (the mutex held).
    void reap_finished_workers()
    {
        for (auto it = workers.begin(); it != workers.end();) {
            if (it->finished) {
                it->thread.join();
                it = workers.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Waits for the next connection; kNoSocket once the service stops.
    Socket next_connection(std::string &peer)
    {
        for (;;) {
            if (net::wait_for_connection(listener.get(), waker) != net::Ready::connection) {
                return net::kNoSocket;
            }
            bool exhausted = false;
            const Socket fd = net::accept_connection(listener.get(), peer, exhausted);
            if (fd != net::kNoSocket) {
                return fd;
            }
            if (exhausted) {
                report("accept: " + net::last_error());
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // let descriptors come free
            }
        }
    }

    void accept_loop()
    {
        net::block_sigpipe_in_this_thread();
        for (;;) {
            {
                std::unique_lock lock(mutex);
                reap_finished_workers();
                if (options.concurrent) {
                    // A connection still waiting for its request can make room for a new one.
                    changed.wait(lock,
                                 [this] { return stopping || busy < options.max_connections || !waiting.empty(); });
                }
                if (stopping) {
                    return;
                }
            }
            std::string peer;
            const Socket fd = next_connection(peer);
            if (fd == net::kNoSocket) {
                return;
            }
            accepted.fetch_add(1);
            tune_connection(fd);
            {
                std::unique_lock lock(mutex);
                if (!make_room(lock)) {
                    net::close(fd);
                    return;
                }
                open_connections.insert(fd);
                waiting.push_back(fd);
            }
            if (!options.concurrent) {
                serve(fd, peer);
                continue;
            }
            const std::lock_guard lock(mutex);
            workers.emplace_back();
            const auto self = std::prev(workers.end());
            try {
                ++busy;
                self->thread = std::thread([this, fd, peer, self] {
                    serve(fd, peer);
                    const std::lock_guard done(mutex);
                    self->finished = true;
                    --busy;
                    changed.notify_all();
                });
            } catch (const std::system_error &error) {
                --busy;
                workers.erase(self);
                open_connections.erase(fd);
                net::close(fd);
                report(std::string("no thread for a connection: ") + error.what());
            }
        }
    }

    // With every worker taken, closes the connection that has waited longest
    // for its request, so that idle clients never keep others out; waits
    // for its worker to end. False when the service stops.
    bool make_room(std::unique_lock<std::mutex> &lock)
    {
        if (options.concurrent && busy >= options.max_connections && !waiting.empty()) {
            net::shutdown_both(waiting.front());
            waiting.pop_front();
        }
        if (options.concurrent) {
            changed.wait(lock, [this] { return stopping || busy < options.max_connections; });
        }
        return !stopping;
    }

    // The connection delivered its request (or ended): no longer evictable.
    void stop_waiting(Socket fd)
    {
        const std::lock_guard lock(mutex);
        waiting.remove(fd);
    }

    // The answer leaves at once (no wait for the acknowledgement of the
    // previous segment), and an idle client is dropped after the limit.
    void tune_connection(Socket fd) const { net::tune_connection(fd, options.no_delay, options.idle_timeout_ms); }

    std::string read_request(SSL *connection) const
    {
        std::string received;
        char block[16384];
        while (!request_complete(received) && received.size() < options.max_request_bytes) {
            const std::size_t room = options.max_request_bytes - received.size();
            std::size_t count = 0;
            if (SSL_read_ex(connection, block, room < sizeof block ? room : sizeof block, &count) != 1) {
                break;
            }
            received.append(block, count);
        }
        return received;
    }

    bool write_answer(SSL *connection, const std::string &answer) const
    {
        const std::size_t step = options.write_size == 0 ? answer.size() : options.write_size;
        for (std::size_t offset = 0; offset < answer.size();) {
            const std::size_t count = answer.size() - offset < step ? answer.size() - offset : step;
            std::size_t written = 0;
            if (SSL_write_ex(connection, answer.data() + offset, count, &written) != 1) {
                return false;
            }
            offset += written;
        }
        return true;
    }

    // Reads and drops whatever the client still sends until it hangs up, so
    // that closing never resets a connection whose answer is still in flight.
    static void drain(Socket fd)
    {
        char sink[4096];
        while (net::receive(fd, sink, sizeof sink) > 0) {
        }
    }

    void serve(Socket fd, const std::string &peer)
    {
        ERR_clear_error();
        exchange(fd, peer);
        ERR_clear_error();
        {
            const std::lock_guard lock(mutex);
            open_connections.erase(fd);
            waiting.remove(fd);
        }
        net::close(fd);
    }

    // The behaviours that never speak TLS.
    bool misbehave_before_tls(Socket fd, const std::string &peer)
    {
        char hello[512];
        switch (options.behaviour) {
        case Behaviour::close_before_handshake:
            return true;
        case Behaviour::close_during_handshake:
            net::receive(fd, hello, 16);
            return true;
        case Behaviour::plain_text: {
            net::receive(fd, hello, sizeof hello);
            std::string answer;
            try {
                answer = handler(ServiceRequest{{}, peer});
            } catch (...) {
                return true;
            }
            net::send_some(fd, answer.data(), answer.size());
            net::shutdown_sending(fd);
            drain(fd);
            return true;
        }
        default:
            return false;
        }
    }

    // Sends the first half of `answer`, then has the close reset the connection.
    void reset_mid_answer(Socket fd, SSL *connection, const std::string &answer)
    {
        write_answer(connection, answer.substr(0, answer.size() / 2));
        net::reset_on_close(fd);
    }

    void exchange(Socket fd, const std::string &peer)
    {
        if (misbehave_before_tls(fd, peer)) {
            return;
        }
        const SslPtr connection(SSL_new(context.get()));
        if (!connection || SSL_set_fd(connection.get(), net::as_openssl_fd(fd)) != 1) {
            report(peer + ": no TLS connection: " + openssl_reason());
            return;
        }
        if (SSL_accept(connection.get()) != 1) {
            report(peer + ": handshake failed: " + openssl_reason());
            return;
        }
        handshakes.fetch_add(1);
        if (options.behaviour == Behaviour::close_after_handshake) {
            return;
        }
        const std::string request = read_request(connection.get());
        stop_waiting(fd);
        if (request.empty()) {
            report(peer + ": closed before sending a request");
            return;
        }
        if (options.record_requests) {
            const std::lock_guard lock(mutex);
            requests.push_back(request);
        }
        std::string answer;
        try {
            answer = handler(ServiceRequest{request, peer});
        } catch (const std::exception &error) {
            report(peer + ": handler failed: " + error.what());
            return;
        } catch (...) {
            report(peer + ": handler failed");
            return;
        }
        if (options.behaviour == Behaviour::reset_mid_answer) {
            reset_mid_answer(fd, connection.get(), answer);
            return;
        }
        if (!write_answer(connection.get(), answer)) {
            report(peer + ": answer not delivered: " + openssl_reason());
            return;
        }
        answers.fetch_add(1);
        if (options.send_close_notify) {
            SSL_shutdown(connection.get());
        }
        net::shutdown_sending(fd);
        drain(fd);
    }
};

TlsService::TlsService(ServiceOptions options, Handler handler)
    : state_(std::make_unique<State>(std::move(options), std::move(handler)))
{
}

TlsService::~TlsService()
{
    stop();
}

void TlsService::start()
{
    const std::lock_guard lock(state_->mutex);
    if (state_->started || state_->stopping) {
        fail("start() may be called once, before stop()");
    }
    state_->acceptor = std::thread([state = state_.get()] { state->accept_loop(); });
    state_->started = true;
}

void TlsService::stop()
{
    State &state = *state_;
    {
        const std::lock_guard lock(state.mutex);
        if (!state.stopping) {
            state.stopping = true;
            for (const Socket fd : state.open_connections) {
                net::shutdown_both(fd);
            }
            state.waker.wake();
        }
    }
    state.changed.notify_all();
    if (state.acceptor.joinable()) {
        state.acceptor.join();
    }
    // No worker is added once the acceptor is gone.
    for (State::Worker &worker : state.workers) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
    const std::lock_guard lock(state.mutex);
    state.workers.clear();
}

std::uint16_t TlsService::port() const noexcept
{
    return state_->port;
}

std::vector<std::string> TlsService::requests() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::size_t TlsService::connections_accepted() const noexcept
{
    return state_->accepted.load();
}

std::size_t TlsService::handshakes_completed() const noexcept
{
    return state_->handshakes.load();
}

std::size_t TlsService::answers_sent() const noexcept
{
    return state_->answers.load();
}

Handler fixed_answer(std::string bytes)
{
    return [bytes = std::move(bytes)](const ServiceRequest &) { return bytes; };
}

}  // namespace dvkc::sample
