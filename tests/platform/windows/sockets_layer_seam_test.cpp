// The exchange and the Windows sockets layer: a refused start gives -2 and
// releases nothing; a start that grants another version than 2.2 gives -3
// and is released; every other return releases the one start.
#include "platform/windows/sockets_layer_seam.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "dvkc.h"

namespace dvkc::platform {
namespace {

struct Fake {
    int result = 0;         // what WSAStartup returns
    WORD granted = 0x0202;  // the version it reports on success
    int starts = 0;
    int cleanups = 0;
};
Fake fake;

int WSAAPI fake_startup(WORD requested, LPWSADATA data)
{
    ++fake.starts;
    if (fake.result != 0) {
        return fake.result;
    }
    const int real = ::WSAStartup(requested, data);  // balanced by fake_cleanup
    data->wVersion = fake.granted;
    return real;
}

int WSAAPI fake_cleanup()
{
    ++fake.cleanups;
    return ::WSACleanup();
}

struct SeamCase {
    const char *name;
    int startup_result;
    WORD granted;
    std::int32_t expected;
    int cleanups;
};

void PrintTo(const SeamCase &c, std::ostream *out)
{
    *out << c.name;
}

class SocketsLayerSeam : public testing::TestWithParam<SeamCase> {
protected:
    void SetUp() override
    {
        fake = Fake{GetParam().startup_result, GetParam().granted};
        previous_ = replace_sockets_layer_calls({fake_startup, fake_cleanup});
    }
    void TearDown() override { replace_sockets_layer_calls(previous_); }

private:
    SocketsLayerCalls previous_{};
};

TEST_P(SocketsLayerSeam, ResultAndRelease)
{
    const SeamCase c = GetParam();
    std::int32_t out_len = 12345;
    char *out_buf = nullptr;
    // Port 1 on 127.0.0.1: nothing listens, so a started layer ends in -6
    // (no trust file) long before any connection.
    const std::int32_t rc =
        iSSL_SendThenRecv("127.0.0.1", 1, "no-such-trust-file.pem", "/dvk", 1, "X", &out_len, &out_buf);
    EXPECT_EQ(rc, c.expected);
    EXPECT_EQ(fake.starts, 1);
    EXPECT_EQ(fake.cleanups, c.cleanups);
    EXPECT_EQ(out_len, 12345);
    EXPECT_EQ(out_buf, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Exchange, SocketsLayerSeam,
                         testing::Values(SeamCase{"refused", WSASYSNOTREADY, 0x0202, DVKC_EXCHANGE_SOCKETS_REFUSED, 0},
                                         SeamCase{"version_1_1", 0, 0x0101, DVKC_EXCHANGE_SOCKETS_VERSION, 1},
                                         SeamCase{"version_2_0", 0, 0x0002, DVKC_EXCHANGE_SOCKETS_VERSION, 1},
                                         SeamCase{"version_2_2", 0, 0x0202, DVKC_EXCHANGE_TRUST_FILE, 1}),
                         [](const testing::TestParamInfo<SeamCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dvkc::platform
