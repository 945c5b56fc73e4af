// `dvkc serve` as a process: its PKI kept or removed, its own certificate,
// stopped cleanly by a signal, and what it refuses.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "dvkc.hpp"
#include "sample_service.h"
#include "serve/serve.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tool_process.h"

namespace dvkc::tool {
namespace {

using namespace dvkc::sample;

// A throwaway PKI and an identity file for the library's side.
class ServeProcess : public testing::Test {
protected:
    dvkc::sample::TempDir dir;
    dvkc::sample::ThrowawayPki pki = dvkc::sample::make_throwaway_pki(dir.path());
    std::string identity = dir.write_file("identity", "id");
};

// `dvkc serve` in the background, its first lines read: the port, the
// clients' trust file and the note after it (none with --cert), the codes.
struct Serve {
    Serve(const std::vector<std::string> &args, const std::filesystem::path &err_file) : tool(args, err_file.string())
    {
        const std::string listening = "dvkc serve: listening on https://127.0.0.1:";
        const std::string trust_file = "dvkc serve: trust file for clients: ";
        std::string line;
        if (!tool.read_line(line) || line.rfind(listening, 0) != 0) {
            ADD_FAILURE() << "unexpected first line: " << line;
            return;
        }
        port = static_cast<std::int32_t>(std::stoi(line.substr(listening.size())));
        if (tool.read_line(codes) && codes.rfind(trust_file, 0) == 0) {
            trust = codes.substr(trust_file.size(), codes.find(" (") - trust_file.size());
            note = codes.substr(codes.find(" ("));
            tool.read_line(codes);
        }
    }
    void expect_line(const std::string &part)
    {
        std::string line;
        EXPECT_TRUE(tool.read_line(line));
        EXPECT_NE(line.find(part), std::string::npos) << line;
    }
    void stop(int number, const std::string &name)
    {
        tool.signal(number);
        expect_line("dvkc serve: stopped by " + name);
        EXPECT_EQ(tool.wait(), exit_ok);
    }
    test::BackgroundTool tool;
    std::int32_t port = -1;
    std::string trust, note, codes;
};

TEST_F(ServeProcess, ServeAsAProcessStopsCleanlyOnSigtermAndKeepsItsPki)
{
    const std::string pki_dir = (dir.path() / "serve-pki").string();
    const std::string codes = dir.write_file("codes.csv", "SN,Code\nKNOWN,-42\n");
    Serve serve({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir, "--codes", codes}, dir.path() / "1.err");
    const std::int32_t port = serve.port;
    ASSERT_GT(port, 0);
    const std::string trust = serve.trust;
    EXPECT_EQ(trust + serve.note, pki_dir + "/trust.pem (kept)");

    dvkc::Query query;
    query.add("KNOWN", "A");
    query.add("OTHER", "B");
    const dvkc::Buffer document = query.build(3, identity);
    query.parse(dvkc::exchange({"127.0.0.1", port, "/", trust}, dvkc::make_envelope(document.view(), "s").view()));
    EXPECT_EQ(query.code(0), -42);
    EXPECT_EQ(query.code(1), default_code("OTHER"));
    serve.expect_line("records=2 result=200 answered");
    serve.stop(SIGTERM, "SIGTERM");
    const auto key_mode = std::filesystem::status(pki_dir + "/server.key").permissions();
    EXPECT_EQ(key_mode & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto written = std::filesystem::last_write_time(trust);

    // A second run reuses the PKI (the clients' trust file stays valid) and stops on SIGHUP.
    Serve again({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir}, dir.path() / "2.err");
    EXPECT_EQ(again.trust + again.note, trust + " (kept from an earlier run)");
    again.stop(SIGHUP, "SIGHUP");
    EXPECT_EQ(std::filesystem::last_write_time(trust), written);

    // A directory holding only part of it is left alone.
    std::filesystem::remove(pki_dir + "/server-chain.pem");
    const ProcessResult partial = test::run_tool({"serve", "--listen", "127.0.0.1:0", "--pki-dir", pki_dir});
    EXPECT_NE(partial.exit_status, exit_ok);
    EXPECT_NE(partial.err.find("server-chain.pem missing"), std::string::npos) << partial.err;
    EXPECT_FALSE(std::filesystem::exists(pki_dir + "/server-chain.pem"));
    EXPECT_EQ(std::filesystem::last_write_time(trust), written);
}

TEST_F(ServeProcess, ServeRemovesItsTemporaryPkiOnSighup)
{
    Serve serve({"serve", "--listen", "127.0.0.1:0"}, dir.path() / "serve.err");
    EXPECT_EQ(serve.note, " (removed when the service stops)");
    const std::filesystem::path pki_dir = std::filesystem::path(serve.trust).parent_path();
    EXPECT_TRUE(std::filesystem::exists(pki_dir / "server.key"));
    serve.stop(SIGHUP, "SIGHUP");
    EXPECT_FALSE(std::filesystem::exists(pki_dir));
}

TEST_F(ServeProcess, ServeWithItsOwnCertificateStopsOnSigint)
{
    Serve serve({"serve", "--listen", "127.0.0.1:0", "--cert", pki.leaf_cert, "--key", pki.leaf_key, "--chain",
                 pki.intermediate_cert, "--error", "9"},
                dir.path() / "serve.err");
    const std::int32_t port = serve.port;
    ASSERT_GT(port, 0);
    EXPECT_EQ(serve.codes, "dvkc serve: codes: every query answered with ErrID 9");

    // Leaf and intermediate are presented: the root-and-intermediate trust file passes the chain check.
    dvkc::Query query;
    query.add("A", "B");
    const dvkc::Buffer document = query.build(3, identity);
    try {
        query.parse(dvkc::exchange({"127.0.0.1", port, "/", pki.trust_root_intermediate},
                                   dvkc::make_envelope(document.view(), "s").view()));
        ADD_FAILURE() << "the service error was not reported";
    } catch (const dvkc::Error &e) {
        EXPECT_EQ(e.code(), 2000);
        EXPECT_EQ(e.err_id(), 9);
    }
    serve.expect_line("records=1 result=200 ErrID 9");
    serve.stop(SIGINT, "SIGINT");
}

TEST_F(ServeProcess, ServeRefusesBadCodesAndCertificates)
{
    const std::string codes = dir.write_file("codes.csv", "SN,Code\nA,1\nB,x\n");
    const ProcessResult bad_codes = test::run_tool({"serve", "--listen", "127.0.0.1:0", "--codes", codes});
    EXPECT_EQ(bad_codes.exit_status, exit_input);
    EXPECT_NE(bad_codes.err.find("codes.csv: line 3: Code is not a 32-bit decimal integer: 'x'"), std::string::npos)
        << bad_codes.err;
    EXPECT_EQ(bad_codes.out, "");
    const ProcessResult codes_dir =
        test::run_tool({"serve", "--listen", "127.0.0.1:0", "--codes", dir.path().string()});
    EXPECT_EQ(codes_dir.exit_status, exit_input);
    EXPECT_NE(codes_dir.err.find("is a directory"), std::string::npos) << codes_dir.err;
    // A key that does not belong to the certificate.
    const ProcessResult mismatch =
        test::run_tool({"serve", "--listen", "127.0.0.1:0", "--cert", pki.leaf_cert, "--key", pki.unrelated_leaf_key});
    EXPECT_EQ(mismatch.exit_status, exit_internal) << mismatch.err;
}

TEST(ServeOptions, ListenAddress)
{
    std::string address;
    std::uint16_t port = 1;
    EXPECT_TRUE(parse_listen("127.0.0.1:0", address, port));
    EXPECT_EQ(port, 0);
    EXPECT_TRUE(parse_listen("127.0.0.2:65535", address, port));
    EXPECT_EQ(address, "127.0.0.2");
    EXPECT_EQ(port, 65535);
    for (const char *bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:65536", "127.0.0.1:-1", "localhost:80", ":80",
                            "127.0.0.1:8x", "[::1]:80"}) {
        EXPECT_FALSE(parse_listen(bad, address, port)) << bad;
    }
}

}  // namespace
}  // namespace dvkc::tool
