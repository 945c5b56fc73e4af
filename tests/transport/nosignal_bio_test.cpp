// Our socket BIO over a connected pair of sockets.
#include "transport/nosignal_bio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "transport/openssl_handles.h"

namespace dvkc::transport {
namespace {

volatile std::sig_atomic_t sigpipes = 0;

void count_sigpipe(int)
{
    sigpipes = sigpipes + 1;
}

class NosignalBio : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends_), 0); }
    void TearDown() override
    {
        for (int &end : ends_) {
            if (end >= 0) {
                close(end);
            }
        }
    }

    int ends_[2] = {-1, -1};
};

TEST_F(NosignalBio, CarriesBytesBothWays)
{
    const BioPtr bio(new_nosignal_socket_bio(ends_[0]));
    ASSERT_TRUE(bio);
    EXPECT_EQ(BIO_write(bio.get(), "hello", 5), 5);
    char received[16] = {};
    ASSERT_EQ(read(ends_[1], received, sizeof received), 5);
    EXPECT_EQ(std::string(received, 5), "hello");
    ASSERT_EQ(write(ends_[1], "back", 4), 4);
    EXPECT_EQ(BIO_read(bio.get(), received, sizeof received), 4);
    EXPECT_EQ(std::string(received, 4), "back");
    EXPECT_EQ(BIO_get_fd(bio.get(), nullptr), ends_[0]);
    EXPECT_EQ(BIO_flush(bio.get()), 1);
}

TEST_F(NosignalBio, PeerCloseIsEndOfFile)
{
    const BioPtr bio(new_nosignal_socket_bio(ends_[0]));
    ASSERT_TRUE(bio);
    EXPECT_EQ(BIO_eof(bio.get()), 0);
    close(ends_[1]);
    ends_[1] = -1;
    char received[4];
    EXPECT_EQ(BIO_read(bio.get(), received, sizeof received), 0);
    EXPECT_EQ(BIO_eof(bio.get()), 1);
    EXPECT_FALSE(BIO_should_retry(bio.get()));
}

TEST_F(NosignalBio, WriteAfterPeerCloseFailsWithoutSigpipe)
{
    struct sigaction counting {
    }, previous{};
    counting.sa_handler = count_sigpipe;
    sigemptyset(&counting.sa_mask);
    sigaction(SIGPIPE, &counting, &previous);
    sigpipes = 0;
    const BioPtr bio(new_nosignal_socket_bio(ends_[0]));
    ASSERT_TRUE(bio);
    close(ends_[1]);
    ends_[1] = -1;
    EXPECT_EQ(BIO_write(bio.get(), "lost", 4), -1);
    EXPECT_FALSE(BIO_should_retry(bio.get()));
    EXPECT_EQ(sigpipes, 0);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(NosignalBio, FreeingLeavesTheDescriptorOpen)
{
    BIO *bio = new_nosignal_socket_bio(ends_[0]);
    ASSERT_NE(bio, nullptr);
    EXPECT_EQ(BIO_get_close(bio), BIO_NOCLOSE);
    BIO_free(bio);
    EXPECT_NE(fcntl(ends_[0], F_GETFD), -1);
}

TEST(NosignalBioCreation, NegativeDescriptorGivesNoBio)
{
    EXPECT_EQ(new_nosignal_socket_bio(-1), nullptr);
}

}  // namespace
}  // namespace dvkc::transport
