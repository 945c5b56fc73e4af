#include "transport/nosignal_bio.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <new>

namespace dvkc::transport {
namespace {

struct SocketState {
    int fd = -1;
    bool at_eof = false;  // the peer has closed its side
};

SocketState *state_of(BIO *bio) noexcept
{
    return static_cast<SocketState *>(BIO_get_data(bio));
}

bool should_retry(int error) noexcept
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

int write_bytes(BIO *bio, const char *data, int size)
{
    BIO_clear_retry_flags(bio);
    const SocketState *state = state_of(bio);
    if (state == nullptr || size < 0) {
        return -1;
    }
    ssize_t sent;
    do {
        sent = ::send(state->fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && should_retry(errno)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(sent);
}

int read_bytes(BIO *bio, char *data, int size)
{
    BIO_clear_retry_flags(bio);
    SocketState *state = state_of(bio);
    if (state == nullptr || size < 0) {
        return -1;
    }
    ssize_t received;
    do {
        received = ::recv(state->fd, data, static_cast<size_t>(size), 0);
    } while (received < 0 && errno == EINTR);
    if (received == 0) {
        state->at_eof = true;
    } else if (received < 0 && should_retry(errno)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(received);
}

long control(BIO *bio, int command, long, void *argument)
{
    const SocketState *state = state_of(bio);
    switch (command) {
    case BIO_C_GET_FD:
        if (state == nullptr) {
            return -1;
        }
        if (argument != nullptr) {
            *static_cast<int *>(argument) = state->fd;
        }
        return state->fd;
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

BIO *new_nosignal_socket_bio(int fd) noexcept
{
    const BIO_METHOD *method = nosignal_method();
    if (method == nullptr || fd < 0) {
        return nullptr;
    }
    BIO *bio = BIO_new(method);
    if (bio == nullptr) {
        return nullptr;
    }
    state_of(bio)->fd = fd;
    BIO_set_init(bio, 1);
    return bio;
}

}  // namespace dvkc::transport
