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

#include "check/check_report.h"
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
// under the intermediate, the same server expired, a self-signed server, an
// unrelated root, and a root cross-signed by an older one with a server
// under an intermediate of its own.
struct CheckPki {
    TempDir dir{"dvkc-check-"};
    std::string leaf, leaf_key, chain_intermediate_root, expired_leaf, self_signed, self_signed_key;
    std::string chain_root_intermediate, chain_with_other_root, chain_intermediate;
    std::string cross_leaf, chain_cross, chain_cross_old_root;
    std::string trust_right, trust_root_only, trust_other_root, trust_not_loading, trust_expired_intermediate,
        trust_right_and_other, trust_new_root, trust_old_root, trust_not_utf8_name;

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
        const std::string other_pem = certificate_pem(other.get());
        chain_root_intermediate = file("chain-wrong-order.pem", root_pem + intermediate_pem);
        chain_with_other_root = file("chain-other.pem", intermediate_pem + root_pem + other_pem);
        chain_intermediate = file("chain-intermediate.pem", intermediate_pem);
        CertificateProfile expired_intermediate = profile("check intermediate", true, 2);
        expired_intermediate.not_before_offset = -3 * 86400;
        expired_intermediate.not_after_offset = -86400;
        trust_expired_intermediate = file(
            "trust-expired-copy.pem",
            certificate_pem(
                issue_certificate(expired_intermediate, intermediate_key.get(), root.get(), root_key.get()).get()) +
                root_pem);
        trust_right_and_other = file("trust-and-other.pem", other_pem + root_pem + intermediate_pem);
        trust_not_utf8_name = file("trust-\xff\xfe.pem", root_pem + intermediate_pem);

        // The new root's key, self-signed and cross-signed by the old root.
        const KeyPtr old_key = generate_p256_key(), new_key = generate_p256_key(), new_ca_key = generate_p256_key();
        const CertificatePtr old_root =
            issue_certificate(profile("check old root", true, 10), old_key.get(), nullptr, old_key.get());
        const CertificatePtr new_root =
            issue_certificate(profile("check new root", true, 11), new_key.get(), nullptr, new_key.get());
        const CertificatePtr cross =
            issue_certificate(profile("check new root", true, 12), new_key.get(), old_root.get(), old_key.get());
        const CertificatePtr new_ca = issue_certificate(profile("check new intermediate", true, 13), new_ca_key.get(),
                                                        new_root.get(), new_key.get());
        cross_leaf = file("cross-leaf.pem",
                          certificate_pem(issue_certificate(profile("check cross server", false, 14),
                                                            leaf_key_pair.get(), new_ca.get(), new_ca_key.get())
                                              .get()));
        chain_cross = file("chain-cross.pem", certificate_pem(new_ca.get()) + certificate_pem(cross.get()));
        chain_cross_old_root =
            file("chain-cross-old.pem",
                 certificate_pem(new_ca.get()) + certificate_pem(cross.get()) + certificate_pem(old_root.get()));
        trust_new_root = file("trust-new-root.pem", certificate_pem(new_root.get()));
        trust_old_root = file("trust-old-root.pem", certificate_pem(old_root.get()));
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

enum class Served {
    nothing,
    chain,
    expired_chain,
    self_signed,
    chain_tls11,
    leaf_only,
    leaf_intermediate,
    wrong_order,
    with_other_root,
    cross_signed,
    cross_signed_and_old_root
};
enum class Trust {
    right,
    root_only,
    other_root,
    not_loading,
    expired_intermediate,
    right_and_other,
    new_root,
    old_root,
    not_utf8_name
};

struct Row {
    const char *name;
    Served served;
    Trust trust;
    std::int32_t expected;
    std::vector<std::string> says{};  // in the text report, in this order
    std::string host = "127.0.0.1";
    bool without_network = false;  // in a network namespace of its own, no interface up
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
    case Served::leaf_only:
        return {"--cert", p.leaf, "--key", p.leaf_key};
    case Served::leaf_intermediate:
        return {"--cert", p.leaf, "--key", p.leaf_key, "--chain", p.chain_intermediate};
    case Served::wrong_order:
        return {"--cert", p.leaf, "--key", p.leaf_key, "--chain", p.chain_root_intermediate};
    case Served::with_other_root:
        return {"--cert", p.leaf, "--key", p.leaf_key, "--chain", p.chain_with_other_root};
    case Served::cross_signed:
        return {"--cert", p.cross_leaf, "--key", p.leaf_key, "--chain", p.chain_cross};
    case Served::cross_signed_and_old_root:
        return {"--cert", p.cross_leaf, "--key", p.leaf_key, "--chain", p.chain_cross_old_root};
    }
    return {};
}

std::string trust_file(Trust trust)
{
    const CheckPki &p = pki();
    switch (trust) {
    case Trust::right:
        return p.trust_right;
    case Trust::root_only:
        return p.trust_root_only;
    case Trust::other_root:
        return p.trust_other_root;
    case Trust::not_loading:
        return p.trust_not_loading;
    case Trust::expired_intermediate:
        return p.trust_expired_intermediate;
    case Trust::right_and_other:
        return p.trust_right_and_other;
    case Trust::new_root:
        return p.trust_new_root;
    case Trust::old_root:
        return p.trust_old_root;
    case Trust::not_utf8_name:
        return p.trust_not_utf8_name;
    }
    return {};
}

// What every report must hold whatever the row: trust entries numbered as
// the listing numbers them, and no advice to add a certificate whose key the
// trust file already holds.
void expect_consistent(const nlohmann::json &report)
{
    const nlohmann::json &trusted = report["trust_file"]["certificates"];
    if (report["server"].is_null()) {
        return;
    }
    for (const nlohmann::json &presented : report["server"]["presented"]) {
        if (presented["trust_entry"].is_number()) {
            const std::size_t entry = presented["trust_entry"];
            ASSERT_GE(entry, 1U);
            ASSERT_LE(entry, trusted.size());
            EXPECT_EQ(trusted[entry - 1]["key_sha256"], presented["key_sha256"]) << "entry " << entry;
        }
    }
    for (const nlohmann::json &fix : report["verdict"]["fixes"]) {
        EXPECT_FALSE(fix.get<std::string>().empty());
        for (const nlohmann::json &certificate : trusted) {
            const std::string key = certificate["key_sha256"];
            EXPECT_EQ(fix.get<std::string>().find("add the certificate whose subject is \"" +
                                                  certificate["subject"].get<std::string>() +
                                                  "\" and whose key SHA-256 is " + key),
                      std::string::npos)
                << "advises a certificate the trust file holds: " << fix;
        }
    }
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
    if (row.without_network) {
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
    expect_consistent(report);
    EXPECT_EQ(report["host"], utf8_or_escaped(row.host));
    EXPECT_EQ(report["trust_file"]["path"], utf8_or_escaped(trust));
    std::size_t from = 0;
    for (const std::string &words : row.says) {
        const std::size_t at = text.out.find(words, from);
        EXPECT_NE(at, std::string::npos) << "missing, or out of order: " << words << "\n" << text.out;
        from = at == std::string::npos ? from : at + words.size();
    }
    // Every fix line names a certificate, an address or a TLS version: none is a bare generic line.
    for (const nlohmann::json &fix : report["verdict"]["fixes"]) {
        EXPECT_NE(utf8_or_escaped(text.out).find("Fix: " + fix.get<std::string>() + "\n"), std::string::npos)
            << text.out;
    }
}

const std::string kKey = "and whose key SHA-256 is ";

INSTANTIATE_TEST_SUITE_P(
    Check, CheckAgreesWithTheExchange,
    testing::Values(
        Row{"RightTrustFile",
            Served::chain,
            Trust::right,
            DVKC_EXCHANGE_OK,
            {"Presented by the server (3 certificates)", "  entry 1  subject CN=check root",
             "  entry 2  subject CN=check intermediate",
             "depth 1 (CN=check intermediate,O=DVKC throwaway): yes, entry 2",
             "depth 2 (CN=check root,O=DVKC throwaway): yes, entry 1"}},
        // Verification fails at the first certificate, yet all three are shown and the fix names the root.
        Row{"AnotherRoot",
            Served::chain,
            Trust::other_root,
            DVKC_EXCHANGE_HANDSHAKE,
            {"Presented by the server (3 certificates)", "depth 2: self-signed certificate in certificate chain",
             "Fix: the server's chain ends in a root the trust file lacks: add the certificate whose subject is "
             "\"CN=check root,O=DVKC throwaway\""}},
        Row{"IntermediateKeyMissing",
            Served::chain,
            Trust::root_only,
            DVKC_EXCHANGE_CHAIN_KEY,
            {"depth 1 (CN=check intermediate,O=DVKC throwaway): NO",
             "depth 2 (CN=check root,O=DVKC throwaway): yes, entry 1",
             "Fix: add the certificate whose subject is \"CN=check intermediate,O=DVKC throwaway\" " + kKey}},
        Row{"ExpiredServerCertificate",
            Served::expired_chain,
            Trust::right,
            DVKC_EXCHANGE_HANDSHAKE,
            {"Fix: the server's certificate, \"CN=check server,O=DVKC throwaway\" (key SHA-256 ", "), expired on ",
             ": the server needs a new one\n"}},
        Row{"ExpiredCopyInTheTrustFile",
            Served::chain,
            Trust::expired_intermediate,
            DVKC_EXCHANGE_HANDSHAKE,
            {"Fix: entry 1 of the trust file, \"CN=check intermediate,O=DVKC throwaway\" (key SHA-256 ",
             ": replace it in the trust file with a current certificate for the same key, such as the one the "
             "server presents at depth 1"}},
        Row{"SelfSignedServerCertificate",
            Served::self_signed,
            Trust::right,
            DVKC_EXCHANGE_HANDSHAKE,
            {"Fix: the server presents a self-signed certificate: add the certificate whose subject is \"CN=check "
             "server,O=DVKC throwaway\""}},
        Row{"OnlyTls11",
            Served::chain_tls11,
            Trust::right,
            DVKC_EXCHANGE_HANDSHAKE,
            {"TLS: the server speaks TLSv1.1 (TLS 1.2 needed)",
             "Fix: the server speaks TLSv1.1 but not TLS 1.2: the library needs TLS 1.2 or 1.3"}},
        Row{"IntermediateNotSent",
            Served::leaf_only,
            Trust::root_only,
            DVKC_EXCHANGE_HANDSHAKE,
            {"Presented by the server (1 certificate)",
             "Fix: the server's certificate, \"CN=check server,O=DVKC throwaway\" (key SHA-256 ",
             "was issued by \"CN=check intermediate,O=DVKC throwaway\", which the server does not send and the trust "
             "file does "
             "not hold: the server should send the certificate of \"CN=check intermediate,O=DVKC throwaway\" after "
             "it"}},
        Row{"IntermediateSentTrustFileRight", Served::leaf_intermediate, Trust::right, DVKC_EXCHANGE_OK},
        Row{"ChainInTheWrongOrder",
            Served::wrong_order,
            Trust::root_only,
            DVKC_EXCHANGE_CHAIN_KEY,
            {"Fix: the server sends its chain in the wrong order: the certificate at depth 1, \"CN=check root,O=DVKC "
             "throwaway\"",
             "Fix: add the certificate whose subject is \"CN=check intermediate,O=DVKC throwaway\""}},
        Row{"UnrelatedRootSentByTheServer",
            Served::with_other_root,
            Trust::right,
            DVKC_EXCHANGE_CHAIN_KEY,
            {"depth 3 (CN=other root,O=DVKC throwaway): NO",
             "Fix: the server sends a root, the certificate whose subject is \"CN=other root,O=DVKC throwaway\"",
             "the server should stop sending it"}},
        Row{"UnrelatedRootInTheTrustFile",
            Served::chain,
            Trust::right_and_other,
            DVKC_EXCHANGE_OK,
            {"depth 1 (CN=check intermediate,O=DVKC throwaway): yes, entry 3",
             "depth 2 (CN=check root,O=DVKC throwaway): yes, entry 2"}},
        Row{"CrossSignedRootTrusted",
            Served::cross_signed,
            Trust::new_root,
            DVKC_EXCHANGE_CHAIN_KEY,
            {"depth 2 (CN=check new root,O=DVKC throwaway): yes, entry 1",
             "Fix: add the certificate whose subject is \"CN=check new intermediate,O=DVKC throwaway\""}},
        Row{"CrossSignedOldRootTrusted",
            Served::cross_signed_and_old_root,
            Trust::old_root,
            DVKC_EXCHANGE_CHAIN_KEY,
            {"depth 3 (CN=check old root,O=DVKC throwaway): yes, entry 1"}},
        Row{"NothingListening",
            Served::nothing,
            Trust::right,
            DVKC_EXCHANGE_CONNECT,
            {"Fix: nothing accepts TCP connections at 127.0.0.1:"}},
        Row{"HostDoesNotResolve",
            Served::nothing,
            Trust::right,
            DVKC_EXCHANGE_RESOLVE,
            {"Fix: this machine finds no IPv4 address for dvkc-check-unresolvable.invalid"},
            "dvkc-check-unresolvable.invalid",
            true},
        Row{"Ipv6Address",
            Served::nothing,
            Trust::right,
            DVKC_EXCHANGE_CONNECT,
            {"address: 255.255.255.255 (not a dotted IPv4 address",
             "Fix: ::1 is not a dotted IPv4 address, yet the library takes it as one"},
            "::1",
            true},
        Row{"BroadcastAddress",
            Served::nothing,
            Trust::right,
            DVKC_EXCHANGE_CONNECT,
            {"Fix: 255.255.255.255 is the broadcast address"},
            "255.255.255.255",
            true},
        Row{"HostNotUtf8", Served::nothing, Trust::right, DVKC_EXCHANGE_CONNECT, {}, "\xff\xfe", true},
        Row{"TrustFileNameNotUtf8", Served::chain, Trust::not_utf8_name, DVKC_EXCHANGE_OK},
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

// A server that accepts the connection and never answers: no verdict after
// --timeout, and an exit status of its own.
TEST(CheckTimeout, ServerThatNeverAnswersTheHandshake)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);  // connections complete in the backlog; none is ever accepted
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size), 0);
    const std::vector<std::string> check = {
        DVKC_TOOL, "check",           "--host",    "127.0.0.1", "--port", std::to_string(ntohs(address.sin_port)),
        "--trust", pki().trust_right, "--timeout", "1"};
    std::vector<std::string> as_json = check;
    as_json.insert(as_json.end(), {"--output", "json"});
    const ProcessResult text = run_process(check, "", true);
    const ProcessResult json = run_process(as_json, "", true);
    ::close(listener);
    EXPECT_EQ(text.exit_status, 6) << text.err;
    EXPECT_NE(text.out.find("TLS: no answer within the time limit\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nVerdict: none: the server took longer than the time limit\nFix: 127.0.0.1:"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("did not complete the TLS handshake within 1 s"), std::string::npos) << text.out;
    EXPECT_EQ(json.exit_status, 6) << json.err;
    const nlohmann::json report = nlohmann::json::parse(json.out);
    EXPECT_TRUE(report["verdict"]["result"].is_null());
    EXPECT_EQ(report["verdict"]["timed_out"], true);
    EXPECT_EQ(report["exit_status"], 6);
}

// Bytes that are not UTF-8 are escaped as \xHH, at the boundaries of what UTF-8 allows.
TEST(CheckJson, BytesThatAreNotUtf8AreEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"\x7f", "\x7f"},
        {"\xc3\xa9", "\xc3\xa9"},                      // é
        {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
        {"\xc2", "\\xc2"},                             // cut short
        {"\xed\x9f\xbf", "\xed\x9f\xbf"},              // U+D7FF, the last before the surrogates
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // U+D800, a surrogate
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},      // U+10FFFF
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
        {"a\xff"
         "b",
         "a\\xffb"},
    };
    for (const auto &[bytes, expected] : cases) {
        EXPECT_EQ(utf8_or_escaped(bytes), expected);
        EXPECT_NO_THROW((void)nlohmann::json(utf8_or_escaped(bytes)).dump());
    }
}

}  // namespace
}  // namespace dvkc::tool
