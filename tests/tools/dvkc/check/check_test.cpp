// `dvkc check` against `dvkc serve`: for each way a server can fail the
// library's rules, the check's verdict must be what iSSL_SendThenRecv returns.
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dvkc.hpp"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;

CertificateProfile profile(const char *name, bool ca, long serial)
{
    CertificateProfile made;
    made.common_name = name;
    made.is_ca = ca;
    made.serial = serial;
    if (!ca) {
        made.ip_addresses = {"127.0.0.1"};
    }
    return made;
}

// The PKIs the rows need, made now: a root and an intermediate, a server
// under the intermediate, the same server expired, a self-signed server, and
// an unrelated root.
struct CheckPki {
    TempDir dir{"dvkc-check-"};
    std::string leaf, leaf_key, chain_intermediate_root, expired_leaf, self_signed, self_signed_key;
    std::string trust_right, trust_root_only, trust_other_root, trust_not_loading;

    CheckPki()
    {
        const KeyPtr root_key = generate_p256_key(), intermediate_key = generate_p256_key(),
                     leaf_key_pair = generate_p256_key(), other_key = generate_p256_key();
        const CertificatePtr root =
            issue_certificate(profile("check root", true, 1), root_key.get(), nullptr, root_key.get());
        const CertificatePtr intermediate = issue_certificate(profile("check intermediate", true, 2),
                                                              intermediate_key.get(), root.get(), root_key.get());
        const CertificateProfile server = profile("check server", false, 3);
        CertificateProfile expired = server;
        expired.not_before_offset = -3 * 86400;
        expired.not_after_offset = -86400;
        const CertificatePtr other =
            issue_certificate(profile("other root", true, 4), other_key.get(), nullptr, other_key.get());
        const std::string root_pem = certificate_pem(root.get()),
                          intermediate_pem = certificate_pem(intermediate.get());
        leaf =
            file("leaf.pem",
                 certificate_pem(
                     issue_certificate(server, leaf_key_pair.get(), intermediate.get(), intermediate_key.get()).get()));
        expired_leaf = file(
            "expired.pem",
            certificate_pem(
                issue_certificate(expired, leaf_key_pair.get(), intermediate.get(), intermediate_key.get()).get()));
        leaf_key = file("leaf.key", private_key_pem(leaf_key_pair.get()));
        self_signed =
            file("self.pem",
                 certificate_pem(issue_certificate(server, leaf_key_pair.get(), nullptr, leaf_key_pair.get()).get()));
        chain_intermediate_root = file("chain.pem", intermediate_pem + root_pem);
        trust_right = file("trust-right.pem", root_pem + intermediate_pem);
        trust_root_only = file("trust-root.pem", root_pem);
        trust_other_root = file("trust-other.pem", certificate_pem(other.get()));
        trust_not_loading = file("trust-broken.pem",
                                 "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydA==\n"
                                 "-----END CERTIFICATE-----\n");
    }
    std::string file(const char *name, const std::string &content) const { return dir.write_file(name, content); }
};

const CheckPki &pki()
{
    static const CheckPki made;
    return made;
}

// `dvkc serve` in the background until the row ends.
class Serve {
public:
    explicit Serve(std::vector<std::string> args)
        : tool_(
              [&] {
                  args.insert(args.begin(), {"serve", "--listen", "127.0.0.1:0"});
                  return args;
              }(),
              (pki().dir.path() / "serve.err").string())
    {
        const std::string listening = "dvkc serve: listening on https://127.0.0.1:";
        std::string line;
        if (!tool_.read_line(line) || line.rfind(listening, 0) != 0) {
            throw std::runtime_error("dvkc serve did not start: " + line);
        }
        port = std::stoi(line.substr(listening.size()));
    }
    int port = 0;

private:
    test::BackgroundTool tool_;
};

// A port on 127.0.0.1 nobody listens on: bound, then released.
int closed_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

std::int32_t exchange(const std::string &host, int port, const std::string &trust)
{
    std::int32_t length = 0;
    char *answer = nullptr;
    const std::int32_t result = iSSL_SendThenRecv(host.c_str(), port, trust.c_str(), "/dvk", 1, "x", &length, &answer);
    vFreeData(answer);
    return result;
}

constexpr int kNoNamespace = 200;

// The unresolvable row runs in a network namespace of its own (no interface
// up): no lookup can leave the machine.
std::int32_t exchange_without_network(const std::string &host, const std::string &trust)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            ::_exit(kNoNamespace);
        }
        ::_exit(-exchange(host, 443, trust));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : kNoNamespace + 1;
    return code >= kNoNamespace ? 1 : -code;
}

enum class Served { nothing, chain, expired_chain, self_signed, chain_tls11 };
enum class Trust { right, root_only, other_root, not_loading };

struct Row {
    const char *name;
    Served served;
    Trust trust;
    std::int32_t expected;
    std::string host = "127.0.0.1";
};

std::vector<std::string> serve_args(Served served)
{
    const CheckPki &p = pki();
    switch (served) {
    case Served::nothing:
        return {};
    case Served::chain:
        return {"--cert", p.leaf, "--key", p.leaf_key, "--chain", p.chain_intermediate_root};
    case Served::expired_chain:
        return {"--cert", p.expired_leaf, "--key", p.leaf_key, "--chain", p.chain_intermediate_root};
    case Served::self_signed:
        return {"--cert", p.self_signed, "--key", p.leaf_key};
    case Served::chain_tls11:
        return {"--cert", p.leaf, "--key", p.leaf_key, "--chain", p.chain_intermediate_root, "--tls-max", "1.1"};
    }
    return {};
}

std::string trust_file(Trust trust)
{
    const CheckPki &p = pki();
    return trust == Trust::right        ? p.trust_right
           : trust == Trust::root_only  ? p.trust_root_only
           : trust == Trust::other_root ? p.trust_other_root
                                        : p.trust_not_loading;
}

void PrintTo(const Row &row, std::ostream *out)
{
    *out << row.name;
}

class CheckAgreesWithTheExchange : public testing::TestWithParam<Row> {};

TEST_P(CheckAgreesWithTheExchange, Verdict)
{
    const Row &row = GetParam();
    const std::string trust = trust_file(row.trust);
    std::unique_ptr<Serve> service;
    int port = closed_port();
    if (row.served != Served::nothing) {
        service = std::make_unique<Serve>(serve_args(row.served));
        port = service->port;
    }
    std::vector<std::string> check = {DVKC_TOOL, "check", "--host", row.host, "--port", std::to_string(port),
                                      "--trust", trust};
    std::int32_t real = 0;
    if (row.expected == DVKC_EXCHANGE_RESOLVE) {
        real = exchange_without_network(row.host, trust);
        if (real == 1) {
            GTEST_SKIP() << "no network namespace available here";
        }
        check.insert(check.begin(), {"unshare", "-rn"});
    } else {
        real = exchange(row.host, port, trust);
    }
    const auto run = [&check](std::vector<std::string> more) {
        more.insert(more.begin(), check.begin(), check.end());
        return run_process(more, "", true);
    };
    const ProcessResult json = run({"--output", "json"});
    const ProcessResult text = run({});
    EXPECT_EQ(real, row.expected);
    const nlohmann::json report = nlohmann::json::parse(json.out);
    EXPECT_EQ(report["verdict"]["result"], real) << json.out;
    const int status = real == 0 ? 0 : real == DVKC_EXCHANGE_TRUST_FILE ? 3 : 4;
    EXPECT_EQ(json.exit_status, status) << json.err;
    EXPECT_EQ(report["exit_status"], status);
    EXPECT_EQ(text.exit_status, status);
    EXPECT_NE(text.out.find("\nVerdict: iSSL_SendThenRecv would return " + std::to_string(real) + ": " +
                            std::string(describe(Call::exchange, real)) + "\n"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(real == 0, report["verdict"]["fixes"].empty()) << json.out;
}

INSTANTIATE_TEST_SUITE_P(
    Check, CheckAgreesWithTheExchange,
    testing::Values(Row{"RightTrustFile", Served::chain, Trust::right, DVKC_EXCHANGE_OK},
                    Row{"AnotherRoot", Served::chain, Trust::other_root, DVKC_EXCHANGE_HANDSHAKE},
                    Row{"IntermediateKeyMissing", Served::chain, Trust::root_only, DVKC_EXCHANGE_CHAIN_KEY},
                    Row{"ExpiredServerCertificate", Served::expired_chain, Trust::right, DVKC_EXCHANGE_HANDSHAKE},
                    Row{"SelfSignedServerCertificate", Served::self_signed, Trust::right, DVKC_EXCHANGE_HANDSHAKE},
                    Row{"OnlyTls11", Served::chain_tls11, Trust::right, DVKC_EXCHANGE_HANDSHAKE},
                    Row{"NothingListening", Served::nothing, Trust::right, DVKC_EXCHANGE_CONNECT},
                    Row{"HostDoesNotResolve", Served::nothing, Trust::right, DVKC_EXCHANGE_RESOLVE,
                        "dvkc-check-unresolvable.invalid"},
                    Row{"TrustFileDoesNotLoad", Served::chain, Trust::not_loading, DVKC_EXCHANGE_TRUST_FILE}),
    [](const testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

// A trust file given as a pipe is read once, into a copy that both the
// listing and the handshake read.
TEST(CheckTrustFile, GivenAsAPipe)
{
    const Serve service(serve_args(Served::chain));
    const ProcessResult run =
        run_process({"/bin/bash", "-c", "exec \"$0\" check --host 127.0.0.1 --port \"$1\" --trust <(cat \"$2\")",
                     DVKC_TOOL, std::to_string(service.port), pki().trust_right},
                    "", true);
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("\nVerdict: iSSL_SendThenRecv would return 0: "), std::string::npos) << run.out;
}

}  // namespace
}  // namespace dvkc::tool
