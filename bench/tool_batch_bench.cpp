// Batches through the dvkc tool against the library's own exchanges, both
// against `dvkc serve` (started once, on 127.0.0.1, any free port), side by
// side in the same run. Figures are microseconds per batch:
//   library      one batch in this process: build, wrap, exchange, parse;
//   tool jobs 1  `dvkc query --jobs 1` over a file of that many batches,
//   tool jobs 4  the same with --jobs 4,
// the tool's start and its reading of the records included, spread over the
// batches of the run (200 of one record, 30 of 1000). Batches per second is
// a million over the figure. DVKC_BENCH_TOOL names another build of the tool
// to measure (an older one, say); `dvkc serve` is always this build's.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dvkc.h"
#include "side_by_side.h"

extern char **environ;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace {

constexpr const char *kHost = "127.0.0.1";
constexpr const char *kPath = "/";

// Runs argv with standard input from /dev/null, standard output to `out`
// and standard error to `err`; returns its pid.
pid_t start(const std::vector<std::string> &argv, const std::string &out, const std::string &err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}

int wait_for(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string file_text(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// `dvkc serve` with its sample PKI, a scratch directory holding the
// identity file and the record files; stopped and removed at exit.
class Served {
public:
    Served() : dir_(make_dir())
    {
        const std::string out = (dir_ / "serve.out").string();
        pid_ = start({DVKC_TOOL, "serve", "--listen", std::string(kHost) + ":0"}, out, (dir_ / "serve.err").string());
        const std::string listening = "listening on https://" + std::string(kHost) + ":";
        const std::string trust = "trust file for clients: ";
        for (int i = 0; i < 3000; ++i) {
            const std::string text = file_text(out);
            const std::size_t at = text.find(listening);
            const std::size_t from = text.find(trust);
            const std::size_t to = from == std::string::npos ? from : text.find(" (", from);
            if (at != std::string::npos && to != std::string::npos) {
                port_ = static_cast<std::uint16_t>(std::atoi(text.c_str() + at + listening.size()));
                trust_ = text.substr(from + trust.size(), to - from - trust.size());
                break;
            }
            usleep(10'000);
        }
        if (port_ == 0) {
            stop();
            throw std::runtime_error("dvkc serve did not start: " + file_text(dir_ / "serve.err"));
        }
        identity_ = (dir_ / "identity.bin").string();
        std::ofstream(identity_) << "benchmark identity";
    }
    Served(const Served &) = delete;
    Served &operator=(const Served &) = delete;
    ~Served()
    {
        stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::uint16_t port() const noexcept { return port_; }
    const std::string &trust() const noexcept { return trust_; }
    const std::string &identity() const noexcept { return identity_; }
    const std::filesystem::path &dir() const noexcept { return dir_; }

private:
    static std::filesystem::path make_dir()
    {
        std::string name = (std::filesystem::temp_directory_path() / "dvkc-bench-tool-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        return name;
    }
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            wait_for(pid_);
            pid_ = -1;
        }
    }

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::string trust_;
    std::string identity_;
};

Served &served()
{
    static Served service;
    return service;
}

std::string serial(std::size_t i)
{
    char text[32];
    std::snprintf(text, sizeof text, "SN%014zu", i);
    return text;
}

// One batch of `size` records the way the tool makes it, in this process.
class LibraryBatch {
public:
    explicit LibraryBatch(std::size_t size) : table_(size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            std::snprintf(table_[i].SN, sizeof table_[i].SN, "%.16s", serial(i).c_str());
            std::snprintf(table_[i].SSID, sizeof table_[i].SSID, "ID%zu", i % 7);
        }
    }

    bool run(const Served &service)
    {
        QueryContext ctx{};
        ctx.TotalCount = static_cast<std::int32_t>(table_.size());
        ctx.Records = table_.data();
        std::int32_t doc_len = 0;
        std::int32_t env_len = 0;
        std::int32_t answer_len = 0;
        char *doc = nullptr;
        char *env = nullptr;
        char *answer = nullptr;
        bool ok = iMake_DVKReqPKT(++seed_, service.identity().c_str(), &ctx, &doc_len, &doc) == 0 &&
                  iMake_DVKRequestPKT(doc_len, doc, 1, "s", &env_len, &env) == 0 &&
                  iSSL_SendThenRecv(kHost, service.port(), service.trust().c_str(), kPath, env_len, env, &answer_len,
                                    &answer) == 0 &&
                  iParse_DVKResponsePKT(&ctx, answer_len, answer) == 0;
        vFreeData(doc);
        vFreeData(env);
        vFreeData(answer);
        return ok;
    }

private:
    std::vector<QueryRecord> table_;
    std::int32_t seed_ = 0;
};

// The tool whose batches are measured.
std::string measured_tool()
{
    const char *other = std::getenv("DVKC_BENCH_TOOL");
    return other != nullptr && *other != '\0' ? other : DVKC_TOOL;
}

// One `dvkc query` run over `batches` batches of `size` records.
class ToolRun {
public:
    ToolRun(const Served &service, std::size_t size, std::size_t batches, unsigned jobs)
        : service_(service), records_((service.dir() / ("records-" + std::to_string(size) + ".csv")).string()),
          size_(size), jobs_(jobs)
    {
        std::ofstream csv(records_);
        for (std::size_t i = 0; i < size * batches; ++i) {
            csv << serial(i) << ",ID" << i % 7 << "\n";
        }
    }

    bool run()
    {
        const pid_t pid = start({measured_tool(), "query",
                                 "--host",        kHost,
                                 "--port",        std::to_string(service_.port()),
                                 "--path",        kPath,
                                 "--trust",       service_.trust(),
                                 "--identity",    service_.identity(),
                                 "--records",     records_,
                                 "--signature",   "s",
                                 "--batch-size",  std::to_string(size_),
                                 "--jobs",        std::to_string(jobs_),
                                 "--output",      "csv",
                                 "--quiet"},
                                "/dev/null", (service_.dir() / "query.err").string());
        const int status = wait_for(pid);
        if (status != 0) {
            std::fprintf(stderr, "dvkc query: exit status %d: %s\n", status,
                         file_text(service_.dir() / "query.err").c_str());
        }
        return status == 0;
    }

private:
    const Served &service_;
    std::string records_;
    std::size_t size_;
    unsigned jobs_;
};

void BM_ToolBatches(benchmark::State &state)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    const bool quick = dvkc::bench::bench_seconds(1.0) < 1.0;
    const std::size_t batches = quick ? 4 : size == 1 ? 200 : 30;
    try {
        const Served &service = served();
        LibraryBatch library(size);
        ToolRun jobs1(service, size, batches, 1);
        ToolRun jobs4(service, size, batches, 4);
        const std::vector<dvkc::bench::Peer> peers = {
            {"library",
             [&] {
                 for (std::size_t b = 0; b < batches; ++b) {
                     if (!library.run(service)) {
                         return false;
                     }
                 }
                 return true;
             }},
            {"tool jobs 1", [&] { return jobs1.run(); }},
            {"tool jobs 4", [&] { return jobs4.run(); }},
        };
        // Microseconds per batch.
        dvkc::bench::run_side_by_side(state, peers, 1, 1000.0 * static_cast<double>(batches));
    } catch (const std::exception &e) {
        state.SkipWithError(e.what());
    }
}

BENCHMARK(BM_ToolBatches)
    ->ArgName("batch size")
    ->Arg(1)
    ->Arg(1000)
    ->MinTime(dvkc::bench::bench_seconds(20.0))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
