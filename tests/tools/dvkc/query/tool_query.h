// The tests of `dvkc query` as a process: a throwaway PKI, an identity file
// and the sample service on 127.0.0.1, and what those tests share.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sample_service.h"
#include "temp_dir.h"
#include "throwaway_pki.h"
#include "tool_process.h"

namespace dvkc::tool::test {

inline std::string records_csv(std::size_t count, const std::string &prefix = "SN-")
{
    std::string text = "SN,SSID\n";
    for (std::size_t i = 0; i < count; ++i) {
        text += prefix + std::to_string(i) + ",ID" + std::to_string(i % 7) + "\n";
    }
    return text;
}

// A TCP connection to 127.0.0.1:port that sends nothing (-1 on failure).
inline int idle_connection(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline std::string file_text(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// How many processes run with `needle` in their command line.
inline int processes_running(const std::string &needle)
{
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        count += contains(std::string(std::istreambuf_iterator<char>(cmdline), {}), needle) ? 1 : 0;
    }
    return count;
}

inline bool process_running(const std::string &needle)
{
    return processes_running(needle) > 0;
}

// The command line of an exchange helper for the service on `port`.
inline std::string exchange_helper_needle(std::uint16_t port)
{
    return std::string("--exchange-helper") + '\0' + "127.0.0.1" + '\0' + std::to_string(port) + '\0';
}

// A throwaway PKI, an identity file and the sample service on 127.0.0.1.
class ToolQuery : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new dvkc::sample::TempDir();
        pki_ = new dvkc::sample::ThrowawayPki(dvkc::sample::make_throwaway_pki(dir_->path()));
    }
    static void TearDownTestSuite()
    {
        delete pki_;
        delete dir_;
    }

    void SetUp() override { identity = dir_->write_file("identity.bin", "the client"); }

    void start_service(dvkc::sample::CodeTable codes = {}, std::optional<std::int32_t> error = {})
    {
        dvkc::sample::SampleServiceOptions options;
        options.identity = pki_->leaf_intermediate;
        options.codes = std::move(codes);
        options.error = error;
        service.emplace(options);
        service->start();
        port = service->port();
    }

    // query against the running service with `extra` arguments.
    std::vector<std::string> query_args(const std::string &records, std::vector<std::string> extra) const
    {
        std::vector<std::string> args{"query", "--host", "127.0.0.1", "--port", std::to_string(port)};
        args.insert(args.end(),
                    {"--trust", pki_->trust_root_intermediate, "--identity", identity, "--records", records});
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string write(const std::string &name, const std::string &content) const
    {
        return dir_->write_file(name, content);
    }

    inline static dvkc::sample::TempDir *dir_ = nullptr;
    inline static dvkc::sample::ThrowawayPki *pki_ = nullptr;
    std::string identity;
    std::optional<dvkc::sample::SampleService> service;
    std::uint16_t port = 1;
};

}  // namespace dvkc::tool::test
