#include "tls_service.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
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
    void reset() noexcept
    {
        if (socket_ != net::kNoSocket) {
            net::close(socket_);
            socket_ = net::kNoSocket;
        }
    }
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
    using Clock = std::chrono::steady_clock;

    struct Worker {
        std::thread thread;
        bool finished = false;
    };

    // Where a connection is in its life.
    enum class Phase {
        greeting,   // handshake and request under way: idle from the service's side
        answering,  // the handler runs or its answer is being written
        closing,    // answered, waiting for the client to hang up: idle
    };

    struct Connection {
        std::string peer;
        Phase phase = Phase::greeting;
        Clock::time_point idle_since;  // when it began waiting on its client
        Clock::time_point deadline = Clock::time_point::max();
        bool closed = false;  // shut down by the service (evicted, overdue or stopping)
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
    std::map<Socket, Connection> connections;  // open ones; shut down by stop() to end blocked calls
    std::list<Worker> workers;
    std::size_t busy = 0;
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

    // Accepts the connection waiting, or kNoSocket (it went away, or
    // descriptors ran short: then after a short pause for some to come free).
    Socket accept_one(std::string &peer)
    {
        bool exhausted = false;
        const Socket fd = net::accept_connection(listener.get(), peer, exhausted);
        if (fd == net::kNoSocket && exhausted) {
            report("accept: " + net::last_error());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return fd;
    }

    // Shuts a connection down (its worker's blocked call returns) and marks it.
    static void close_connection(Socket fd, Connection &connection)
    {
        net::shutdown_both(fd);
        connection.closed = true;
    }

    // Closes the connections past their deadline; returns their peers.
    std::vector<std::string> close_overdue(Clock::time_point now)
    {
        std::vector<std::string> overdue;
        for (auto &[fd, connection] : connections) {
            if (!connection.closed && connection.deadline <= now) {
                close_connection(fd, connection);
                overdue.push_back(connection.peer);
            }
        }
        return overdue;
    }

    Clock::time_point next_deadline() const
    {
        Clock::time_point next = Clock::time_point::max();
        for (const auto &[fd, connection] : connections) {
            if (!connection.closed && connection.deadline < next) {
                next = connection.deadline;
            }
        }
        return next;
    }

    Clock::duration eviction_grace() const { return std::chrono::milliseconds(options.evict_idle_after_ms); }

    // The connection idle longest, if any is idle (see ServiceOptions).
    std::map<Socket, Connection>::iterator idlest()
    {
        auto found = connections.end();
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (!it->second.closed && it->second.phase != Phase::answering &&
                (found == connections.end() || it->second.idle_since < found->second.idle_since)) {
                found = it;
            }
        }
        return found;
    }

    // Milliseconds from now to `when` for a poll, -1 for never.
    static int poll_timeout(Clock::time_point when, Clock::time_point now)
    {
        if (when == Clock::time_point::max()) {
            return -1;
        }
        if (when <= now) {
            return 0;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
        return wait > 60'000 ? 60'000 : static_cast<int>(wait);
    }

    // Waits on `changed` until `when` (never: until notified).
    void wait_until(std::unique_lock<std::mutex> &lock, Clock::time_point when)
    {
        if (when == Clock::time_point::max()) {
            changed.wait(lock);
        } else {
            changed.wait_until(lock, when);
        }
    }

    void report_overdue(const std::vector<std::string> &peers) const
    {
        for (const std::string &peer : peers) {
            report(peer + ": closed: the connection's time limit (" + std::to_string(options.connection_deadline_ms) +
                   " ms) was reached");
        }
    }

    enum class Next { stop, look_again, wait_for_connection };

    // Enforces the deadlines, then tells what the acceptor does next and, to
    // wait for a connection, for how long at most (-1: as long as it takes).
    Next before_accept(int &timeout_ms)
    {
        std::vector<std::string> overdue;
        Next next = Next::wait_for_connection;
        {
            std::unique_lock lock(mutex);
            reap_finished_workers();
            if (stopping) {
                return Next::stop;
            }
            const Clock::time_point now = Clock::now();
            overdue = close_overdue(now);
            const Clock::time_point deadline = next_deadline();
            timeout_ms = poll_timeout(deadline, now);
            if (options.concurrent && busy >= options.max_connections) {
                // Full: a new connection is taken only in the place of an idle
                // one; until one has idled long enough, new ones stay in the backlog.
                const auto candidate = idlest();
                const Clock::time_point evictable = candidate == connections.end()
                                                        ? Clock::time_point::max()
                                                        : candidate->second.idle_since + eviction_grace();
                if (evictable > now) {
                    wait_until(lock, evictable < deadline ? evictable : deadline);
                    next = Next::look_again;
                }
            }
        }
        report_overdue(overdue);
        return next;
    }

    void accept_loop()
    {
        net::block_sigpipe_in_this_thread();
        for (;;) {
            int timeout_ms = -1;
            const Next next = before_accept(timeout_ms);
            if (next == Next::stop) {
                return;
            }
            if (next == Next::look_again) {
                continue;
            }
            const net::Ready ready = net::wait_for_connection(listener.get(), waker, timeout_ms);
            if (ready == net::Ready::timed_out) {
                continue;
            }
            if (ready != net::Ready::connection) {
                return;
            }
            {
                std::unique_lock lock(mutex);
                const Room room = make_room(lock);
                if (room == Room::stopping) {
                    return;
                }
                if (room == Room::none) {
                    continue;
                }
            }
            std::string peer;
            const Socket fd = accept_one(peer);
            if (fd == net::kNoSocket) {
                continue;
            }
            accepted.fetch_add(1);
            tune_connection(fd);
            {
                const std::lock_guard lock(mutex);
                Connection &connection = connections[fd];
                connection.peer = peer;
                connection.idle_since = Clock::now();
                if (options.concurrent && options.connection_deadline_ms > 0) {
                    connection.deadline =
                        connection.idle_since + std::chrono::milliseconds(options.connection_deadline_ms);
                }
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
                connections.erase(fd);
                net::close(fd);
                report(std::string("no thread for a connection: ") + error.what());
            }
        }
    }

    enum class Room { free, none, stopping };

    // A connection waits to be accepted. With every worker taken, closes the
    // connection idle longest if it has been idle long enough, so that idle
    // clients never keep others out, and waits for its worker to end; else
    // there is no room yet and the new connection stays in the backlog.
    Room make_room(std::unique_lock<std::mutex> &lock)
    {
        if (stopping) {
            return Room::stopping;
        }
        if (!options.concurrent || busy < options.max_connections) {
            return Room::free;
        }
        const auto candidate = idlest();
        if (candidate == connections.end() || candidate->second.idle_since + eviction_grace() > Clock::now()) {
            return Room::none;
        }
        close_connection(candidate->first, candidate->second);
        // Its worker ends promptly: every call it can be blocked in returns
        // on the shut-down socket, and it is not running the handler.
        changed.wait(lock, [this] { return stopping || busy < options.max_connections; });
        return stopping ? Room::stopping : Room::free;
    }

    // The request is in: the connection is being answered and cannot be
    // evicted. False when the service already closed it.
    bool begin_answer(Socket fd)
    {
        const std::lock_guard lock(mutex);
        const auto it = connections.find(fd);
        if (it == connections.end() || it->second.closed) {
            return false;
        }
        it->second.phase = Phase::answering;
        return true;
    }

    // The answer is out: the connection idles until the client hangs up.
    void begin_closing(Socket fd)
    {
        {
            const std::lock_guard lock(mutex);
            if (const auto it = connections.find(fd); it != connections.end()) {
                it->second.phase = Phase::closing;
                it->second.idle_since = Clock::now();
            }
        }
        changed.notify_all();
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
            connections.erase(fd);
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
        if (request.empty()) {
            report(peer + ": closed before sending a request");
            return;
        }
        if (!begin_answer(fd)) {
            report(peer + ": closed by the service before it was answered");
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
        begin_closing(fd);
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
            for (auto &[fd, connection] : state.connections) {
                State::close_connection(fd, connection);
            }
            state.waker.wake();
        }
    }
    state.changed.notify_all();
    if (state.acceptor.joinable()) {
        state.acceptor.join();
    }
    // Clients still waiting in the backlog are refused rather than left waiting.
    state.listener.reset();
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
