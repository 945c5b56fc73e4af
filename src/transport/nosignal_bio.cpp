#include "transport/nosignal_bio.h"

#include <openssl/crypto.h>

#include <atomic>
#include <new>

#include "platform/socket_io.h"

namespace dvkc::transport {
namespace {

struct SocketState {
    platform::SocketHandle socket = platform::kNoSocket;
    bool at_eof = false;  // the peer has closed its side
};

SocketState *state_of(BIO *bio) noexcept
{
    return static_cast<SocketState *>(BIO_get_data(bio));
}

int write_bytes(BIO *bio, const char *data, int size)
{
    BIO_clear_retry_flags(bio);
    const SocketState *state = state_of(bio);
    if (state == nullptr || size < 0) {
        return -1;
    }
    const int sent = platform::send_some(state->socket, data, size);
    if (sent < 0 && platform::last_socket_error_is_retry()) {
        BIO_set_retry_write(bio);
    }
    return sent;
}

int read_bytes(BIO *bio, char *data, int size)
{
    BIO_clear_retry_flags(bio);
    SocketState *state = state_of(bio);
    if (state == nullptr || size < 0) {
        return -1;
    }
    const int received = platform::receive_some(state->socket, data, size);
    if (received == 0) {
        state->at_eof = true;
    } else if (received < 0 && platform::last_socket_error_is_retry()) {
        BIO_set_retry_read(bio);
    }
    return received;
}

long control(BIO *bio, int command, long, void *argument)
{
    const SocketState *state = state_of(bio);
    switch (command) {
    case BIO_C_GET_FD:
        if (state == nullptr) {
            return -1;
        }
        // OpenSSL's own socket BIO narrows a Windows SOCKET to int the same way.
        if (argument != nullptr) {
            *static_cast<int *>(argument) = static_cast<int>(state->socket);
        }
        return static_cast<long>(state->socket);
    case BIO_CTRL_EOF:
        return state != nullptr && state->at_eof ? 1 : 0;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
        return 1;
    // BIO_NOCLOSE is 0 like the default's answer; the case names it for the reader.
    case BIO_CTRL_GET_CLOSE:  // NOLINT(bugprone-branch-clone)
        return BIO_NOCLOSE;
    default:
        return 0;
    }
}

int create(BIO *bio)
{
    void *memory = OPENSSL_malloc(sizeof(SocketState));
    if (memory == nullptr) {
        return 0;
    }
    auto *state = new (memory) SocketState;
    BIO_set_data(bio, state);
    return 1;
}

// Socket BIOs in existence, counted from just before one is made until its
// destruction: the method table is never freed while this is above zero.
std::atomic<long> live_bios{0};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

int destroy(BIO *bio)
{
    OPENSSL_free(state_of(bio));
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    live_bios.fetch_sub(1);
    return 1;
}

// Our BIO type: a fixed number in the range OpenSSL leaves to applications
// (BIO_get_new_index hands out 129 upwards), so that building the method
// never depends on OpenSSL's process-wide index lock, whose allocation
// failure OpenSSL remembers for good.
constexpr int kBioIndex = 0xFE;

BIO_METHOD *build_method() noexcept
{
    BIO_METHOD *method = BIO_meth_new(kBioIndex | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "dvkc nosignal socket");
    if (method == nullptr) {
        return nullptr;
    }
    if (BIO_meth_set_write(method, write_bytes) != 1 || BIO_meth_set_read(method, read_bytes) != 1 ||
        BIO_meth_set_ctrl(method, control) != 1 || BIO_meth_set_create(method, create) != 1 ||
        BIO_meth_set_destroy(method, destroy) != 1) {
        BIO_meth_free(method);
        return nullptr;
    }
    return method;
}

// The method table, published once it is complete. A failure to build it is
// never remembered: the next call tries again. Threads whose first calls race
// may each build one; the first to publish wins and the others free theirs.
std::atomic<BIO_METHOD *> published_method{nullptr};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Frees the published table when the library is unloaded (or the process
// ends), unless a socket BIO still exists: an exchange still running on
// another thread while the process exits keeps its table. A BIO made after
// this has run finds no table and builds one of its own (all counts are
// sequentially consistent: either this sees the BIO counted, or the BIO's
// maker sees the table gone).
struct MethodRelease {
    MethodRelease() = default;
    MethodRelease(const MethodRelease &) = delete;
    MethodRelease &operator=(const MethodRelease &) = delete;
    ~MethodRelease()
    {
        BIO_METHOD *method = published_method.exchange(nullptr);
        if (method != nullptr && live_bios.load() == 0) {
            BIO_meth_free(method);
        }
    }
};
const MethodRelease method_release;

const BIO_METHOD *nosignal_method() noexcept
{
    BIO_METHOD *method = published_method.load();
    if (method != nullptr) {
        return method;
    }
    BIO_METHOD *built = build_method();
    if (built == nullptr) {
        return nullptr;
    }
    if (published_method.compare_exchange_strong(method, built)) {
        return built;
    }
    BIO_meth_free(built);  // another thread published first
    return method;
}

}  // namespace

BIO *new_nosignal_socket_bio(platform::SocketHandle socket) noexcept
{
    if (socket == platform::kNoSocket) {
        return nullptr;
    }
    live_bios.fetch_add(1);  // before the table is looked up: see MethodRelease
    const BIO_METHOD *method = nosignal_method();
    BIO *bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) {
        live_bios.fetch_sub(1);  // no BIO, so no destroy() to count it out
        return nullptr;
    }
    state_of(bio)->socket = socket;
    BIO_set_init(bio, 1);
    return bio;
}

}  // namespace dvkc::transport
