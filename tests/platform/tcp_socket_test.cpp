// Opening and connecting IPv4 sockets, on 127.0.0.1 only.
#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket_close.h"

namespace dvkc::platform {
namespace {

// A socket bound to an ephemeral port on 127.0.0.1, listening or not.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listening)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof local;
        ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
              (!listening || listen(fd_, 4) == 0) && getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &size) == 0;
        port_ = ntohs(local.sin_port);
    }
    LoopbackPort(const LoopbackPort &) = delete;
    LoopbackPort &operator=(const LoopbackPort &) = delete;
    ~LoopbackPort() { close(fd_); }

    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::uint16_t port_ = 0;
};

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

TEST(TcpSocket, OpensCloseOnExecStreamSockets)
{
    const UniqueSocket socket(open_tcp_socket());
    ASSERT_TRUE(socket.valid());
    EXPECT_NE(fcntl(socket.get(), F_GETFD) & FD_CLOEXEC, 0);
    int type = 0;
    socklen_t size = sizeof type;
    ASSERT_EQ(getsockopt(socket.get(), SOL_SOCKET, SO_TYPE, &type, &size), 0);
    EXPECT_EQ(type, SOCK_STREAM);
}

TEST(TcpSocket, ConnectsToAListener)
{
    const LoopbackPort listener(true);
    ASSERT_TRUE(listener.ok());
    const UniqueSocket socket(open_tcp_socket());
    EXPECT_TRUE(connect_ipv4(socket.get(), kLoopback, listener.port()));
    EXPECT_TRUE(shutdown_socket_once(socket.get()));
}

TEST(TcpSocket, ConnectWithoutListenerFails)
{
    const LoopbackPort bound_only(false);
    ASSERT_TRUE(bound_only.ok());
    const UniqueSocket socket(open_tcp_socket());
    EXPECT_FALSE(connect_ipv4(socket.get(), kLoopback, bound_only.port()));
}

// What "1nvalid" becomes: the connect is refused locally, nothing is sent.
TEST(TcpSocket, ConnectToTheAllOnesAddressFails)
{
    const UniqueSocket socket(open_tcp_socket());
    EXPECT_FALSE(connect_ipv4(socket.get(), 0xFFFFFFFFU, 443));
}

}  // namespace
}  // namespace dvkc::platform
