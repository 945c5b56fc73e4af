// Servers that misbehave on purpose: they close before, during or right after
// the handshake, speak no TLS, present hundreds of certificates, or reset the
// connection half-way through the answer. Each exchange must end with a
// result of its ladder, leave the out-parameters as that result says, and
// leave no descriptor open (and, in the asan build, no leak).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "exchange_helpers.h"

namespace dvkc::test {
namespace {

const std::string kAnswer = "HTTP/1.0 200 OK\r\nContent-type: text/xml\r\n\r\n" + std::string(20000, 'a');

std::size_t open_descriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::string file_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The leaf, then the intermediate `copies` times: a chain far longer than
// any client accepts.
TlsIdentity very_long_chain(const TempDir &dir, int copies)
{
    const ThrowawayPki &pki = shared_pki();
    std::string chain = file_text(pki.leaf_cert);
    const std::string intermediate = file_text(pki.intermediate_cert);
    for (int i = 0; i < copies; ++i) {
        chain += intermediate;
    }
    return TlsIdentity{dir.write_file("long-chain.pem", chain), pki.leaf_key};
}

struct HostileCase {
    const char *name;
    Behaviour behaviour;
    int chain_copies;                // 0: the usual full chain
    std::set<std::int32_t> results;  // what the exchange may end with
    bool answer_prefix_only;         // on 0, the answer may be cut anywhere (even empty)
};

void PrintTo(const HostileCase &c, std::ostream *out)
{
    *out << c.name;
}

class HostilePeers : public testing::TestWithParam<HostileCase> {};

TEST_P(HostilePeers, EndOnTheLadderAndLeaveNothingOpen)
{
    const HostileCase &c = GetParam();
    {
        // OpenSSL may keep a descriptor or two of its own once initialised.
        const auto warm_up = start_service(shared_pki().full_chain, fixed_answer(kAnswer));
        ASSERT_EQ(send_request(warm_up->port(), shared_pki().trust_root_intermediate).result, 0);
    }
    const std::size_t before = open_descriptors();
    {
        const TempDir dir;
        ServiceOptions options;
        options.identity = c.chain_copies > 0 ? very_long_chain(dir, c.chain_copies) : shared_pki().full_chain;
        options.behaviour = c.behaviour;
        const auto service = start_service(options, fixed_answer(kAnswer));
        for (int round = 0; round < 2; ++round) {  // the second call meets the same peer afresh
            const Received received = send_request(service->port(), shared_pki().trust_root_intermediate);
            EXPECT_EQ(c.results.count(received.result), 1U)
                << "result " << received.result << ": " << received.text().substr(0, 60);
            if (received.result != 0) {
                EXPECT_TRUE(received.out_parameters_untouched());
            } else if (c.answer_prefix_only) {
                EXPECT_TRUE(kAnswer.starts_with(received.text())) << received.length << " bytes";
            } else {
                EXPECT_EQ(received.text(), kAnswer);
            }
        }
    }
    EXPECT_EQ(open_descriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostilePeers,
    testing::Values(
        HostileCase{"CloseBeforeHandshake", Behaviour::close_before_handshake, 0, {DVKC_EXCHANGE_HANDSHAKE}, false},
        HostileCase{"CloseDuringHandshake", Behaviour::close_during_handshake, 0, {DVKC_EXCHANGE_HANDSHAKE}, false},
        // The request may still be written into the socket before the close is seen.
        HostileCase{"CloseRightAfterHandshake",
                    Behaviour::close_after_handshake,
                    0,
                    {DVKC_EXCHANGE_OK, DVKC_EXCHANGE_WRITE},
                    true},
        HostileCase{"PlainTextInsteadOfTls", Behaviour::plain_text, 0, {DVKC_EXCHANGE_HANDSHAKE}, false},
        HostileCase{"ThreeHundredCertificates", Behaviour::answer, 300, {DVKC_EXCHANGE_HANDSHAKE}, false},
        // A read that fails ends the answer; what came before it is kept.
        HostileCase{"ResetMidAnswer", Behaviour::reset_mid_answer, 0, {DVKC_EXCHANGE_OK}, true}),
    [](const testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dvkc::test
