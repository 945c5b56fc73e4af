// Shutting down and closing sockets: ten attempts, a pause after each failure.
#include "platform/socket_close.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace dvkc::platform {
namespace {

struct RetryCase {
    int succeeds_at;  // 0: never
    int attempts;
    int pauses;
    bool result;
};

// GoogleTest would otherwise print the case's raw bytes, padding included.
void PrintTo(const RetryCase &c, std::ostream *os)
{
    *os << "succeeds_at " << c.succeeds_at;
}

class RetrySocketStep : public testing::TestWithParam<RetryCase> {};

TEST_P(RetrySocketStep, CountsAttemptsAndPauses)
{
    const RetryCase c = GetParam();
    int attempts = 0;
    int pauses = 0;
    const bool result = retry_socket_step(
        [&] {
            ++attempts;
            return attempts == c.succeeds_at;
        },
        [&] { ++pauses; });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(pauses, c.pauses);
}

INSTANTIATE_TEST_SUITE_P(Platform, RetrySocketStep,
                         testing::Values(RetryCase{1, 1, 0, true}, RetryCase{2, 2, 1, true}, RetryCase{10, 10, 9, true},
                                         // Ten failures: ten pauses, the last one included.
                                         RetryCase{0, 10, 10, false}, RetryCase{11, 10, 10, false}));

bool is_open(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

TEST(SocketClose, CloseReleasesTheDescriptor)
{
    const SocketHandle socket = open_tcp_socket();
    ASSERT_NE(socket, kNoSocket);
    vCloseSocket(socket);
    EXPECT_FALSE(is_open(socket));
}

TEST(SocketClose, ShutdownEndsTheConnectionButKeepsTheDescriptor)
{
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    vShutdownSocket(ends[0]);
    EXPECT_TRUE(is_open(ends[0]));
    char byte;
    EXPECT_EQ(read(ends[1], &byte, 1), 0);  // the peer sees the end
    close(ends[0]);
    close(ends[1]);
}

// Shutting down a socket that never connected fails every time; the
// descriptor is still ours afterwards, and closing still releases it.
TEST(SocketClose, UnconnectedSocketStillClosesAfterFailedShutdowns)
{
    const SocketHandle socket = open_tcp_socket();
    ASSERT_NE(socket, kNoSocket);
    EXPECT_FALSE(shutdown_socket_once(socket));
    close_socket(socket);
    EXPECT_FALSE(is_open(socket));
}

TEST(UniqueSocket, ClosesWhenItGoesAndMovesOwnership)
{
    const SocketHandle socket = open_tcp_socket();
    ASSERT_NE(socket, kNoSocket);
    {
        UniqueSocket first(socket);
        UniqueSocket second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), socket);
        UniqueSocket third;
        third = std::move(second);
        EXPECT_TRUE(is_open(socket));
    }
    EXPECT_FALSE(is_open(socket));
}

TEST(UniqueSocket, EmptyHandleClosesNothing)
{
    UniqueSocket empty;
    EXPECT_FALSE(empty.valid());
    empty.reset();
    EXPECT_EQ(empty.get(), kNoSocket);
}

}  // namespace
}  // namespace dvkc::platform
