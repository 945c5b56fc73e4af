#include "transport/nosignal_bio.h"

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
    case BIO_CTRL_GET_CLOSE:
        return BIO_NOCLOSE;
    default:
        return 0;
    }
}

int create(BIO *bio)
{
    auto *state = new (std::nothrow) SocketState;
    if (state == nullptr) {
        return 0;
    }
    BIO_set_data(bio, state);
    return 1;
}

int destroy(BIO *bio)
{
    delete state_of(bio);
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    return 1;
}

// The method table is made once per process and never changes afterwards.
class Method {
public:
    Method() noexcept
    {
        const int index = BIO_get_new_index();
        if (index == -1) {
            return;
        }
        method_ = BIO_meth_new(index | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "dvkc nosignal socket");
        if (method_ == nullptr) {
            return;
        }
        if (BIO_meth_set_write(method_, write_bytes) != 1 || BIO_meth_set_read(method_, read_bytes) != 1 ||
            BIO_meth_set_ctrl(method_, control) != 1 ||
            BIO_meth_set_create(method_, create) != 1 || BIO_meth_set_destroy(method_, destroy) != 1) {
            BIO_meth_free(method_);
            method_ = nullptr;
        }
    }
    Method(const Method &) = delete;
    Method &operator=(const Method &) = delete;
    ~Method() { BIO_meth_free(method_); }

    const BIO_METHOD *get() const noexcept { return method_; }

private:
    BIO_METHOD *method_ = nullptr;
};

const BIO_METHOD *nosignal_method() noexcept
{
    static const Method method;
    return method.get();
}

}  // namespace

BIO *new_nosignal_socket_bio(platform::SocketHandle socket) noexcept
{
    const BIO_METHOD *method = nosignal_method();
    if (method == nullptr || socket == platform::kNoSocket) {
        return nullptr;
    }
    BIO *bio = BIO_new(method);
    if (bio == nullptr) {
        return nullptr;
    }
    state_of(bio)->socket = socket;
    BIO_set_init(bio, 1);
    return bio;
}

}  // namespace dvkc::transport
