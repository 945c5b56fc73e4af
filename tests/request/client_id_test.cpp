// The identity file: opened close-on-exec, digested up to a read error, and
// read on where a signal cuts a read short, to 10240 bytes or the file's end.
#include "request/client_id.h"

#include "platform/read_only_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>

#include "temp_dir.h"

namespace dvkc {
namespace {

TEST(IdentityFile, IsOpenedCloseOnExec)
{
    const sample::TempDir dir;
    std::FILE *file = platform::open_for_reading(dir.write_file("id", "abc").c_str());
    ASSERT_NE(file, nullptr);
    const int flags = fcntl(fileno(file), F_GETFD);
    std::fclose(file);
    ASSERT_NE(flags, -1);
    EXPECT_NE(flags & FD_CLOEXEC, 0);
}

TEST(IdentityFile, ReadErrorPartWayDigestsWhatCameBefore)
{
    std::size_t position = 0;
    // 3000 bytes of 'k', then EIO on every read.
    const auto read = [](void *cookie, char *buffer, std::size_t wanted) -> ssize_t {
        auto &at = *static_cast<std::size_t *>(cookie);
        if (at == 3000) {
            errno = EIO;
            return -1;
        }
        const std::size_t n = std::min(wanted, 3000 - at);
        std::memset(buffer, 'k', n);
        at += n;
        return static_cast<ssize_t>(n);
    };
    std::FILE *file = fopencookie(&position, "r", {read, nullptr, nullptr, nullptr});
    ASSERT_NE(file, nullptr);
    char client_id[41];
    EXPECT_TRUE(identity_client_id(file, client_id));
    std::fclose(file);
    EXPECT_STREQ(client_id, "16E7EC19F22BCB275E82BB91C98BFEAF34F252F7");  // SHA-1 of 3000 'k'
}

std::string sha1_hex(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr), 1);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", digest[i]);
        hex += pair;
    }
    return hex;
}

// Whether process `pid` sleeps (in its read, here).
bool sleeping(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = text.rfind(')');
    return after_name != std::string::npos && text.compare(after_name, 3, ") S") == 0;
}

// The reading process's end of the pipe that tells of the signal.
int interruption_pipe = -1;

void note_interruption(int)
{
    const char byte = 'i';
    // Nothing to do if it fails: the test then sees no note and fails.
    [[maybe_unused]] const ssize_t written = ::write(interruption_pipe, &byte, 1);
}

// Reads the identity from `fifo` in this (forked) process, a signal without
// SA_RESTART noted on `notify`, and writes the client ID to `result`; killed
// by SIGALRM if the read never ends.
[[noreturn]] void read_identity_in_child(const std::string &fifo, int notify, int result)
{
    interruption_pipe = notify;
    struct sigaction action {};
    action.sa_handler = note_interruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    if (::sigaction(SIGUSR1, &action, nullptr) != 0) {
        ::_exit(2);
    }
    ::alarm(20);
    std::FILE *file = platform::open_for_reading(fifo.c_str());
    char client_id[DVKC_CLIENT_ID_LENGTH + 1] = {};
    const bool digested = file != nullptr && identity_client_id(file, client_id);
    const bool written = digested && ::write(result, client_id, DVKC_CLIENT_ID_LENGTH) == DVKC_CLIENT_ID_LENGTH;
    ::_exit(written ? 0 : 3);
}

struct SignalCase {
    const char *name;
    std::size_t after_signal;  // bytes the writer gives after the signal, before it closes
    std::size_t digested;      // bytes the client ID is the digest of
};

void PrintTo(const SignalCase &c, std::ostream *out)
{
    *out << c.name;
}

class CutShortBySignal : public testing::TestWithParam<SignalCase> {};

// A FIFO gives 6000 bytes, then a signal without SA_RESTART cuts the next
// read short, then more bytes come and the writer closes: the read goes on
// after the signal, and ends at 10240 bytes or at the end of the file,
// whichever comes first. The reader is a process of its own, so a read
// that never ends fails the test instead of hanging it.
TEST_P(CutShortBySignal, ReadGoesOnAndEnds)
{
    const SignalCase &c = GetParam();
    const sample::TempDir dir;
    const std::string fifo = (dir.path() / "identity.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string bytes(6000 + c.after_signal, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    int notify[2];
    int result[2];
    ASSERT_EQ(::pipe2(notify, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(result, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(notify[0]);
        ::close(result[0]);
        read_identity_in_child(fifo, notify[1], result[1]);
    }
    ::close(notify[1]);
    ::close(result[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const auto in_time = [&] { return std::chrono::steady_clock::now() < deadline; };

    // Non-blocking, so that a reader that never opens cannot hold the test;
    // everything written fits the FIFO's buffer.
    int writer = -1;
    while (writer < 0 && in_time()) {
        writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(writer, 0) << "the reader never opened the FIFO";
    if (writer >= 0) {
        EXPECT_EQ(::write(writer, bytes.data(), 6000), 6000);
        // Once the FIFO is empty and the reader sleeps, it sleeps in the read that asks for the rest.
        int pending = 1;
        while ((pending > 0 || !sleeping(child)) && in_time() && ::ioctl(writer, FIONREAD, &pending) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(::kill(child, SIGUSR1), 0);
        char noted = '\0';
        EXPECT_EQ(::read(notify[0], &noted, 1), 1) << "the reader never saw the signal";
        EXPECT_EQ(::write(writer, bytes.data() + 6000, c.after_signal), static_cast<ssize_t>(c.after_signal));
        ::close(writer);
    }
    std::string client_id;  // until the reader exits (or is killed)
    char chunk[64];
    for (ssize_t n = 0; (n = ::read(result[0], chunk, sizeof chunk)) > 0;) {
        client_id.append(chunk, static_cast<std::size_t>(n));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(notify[0]);
    ::close(result[0]);
    const bool killed_by_alarm = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    EXPECT_FALSE(killed_by_alarm) << "the read did not end within 20 s";
    const bool exited_well = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    ASSERT_TRUE(exited_well) << "the reader's wait status: " << status;
    EXPECT_EQ(client_id, sha1_hex(bytes.substr(0, c.digested)));
}

INSTANTIATE_TEST_SUITE_P(IdentityFile, CutShortBySignal,
                         testing::Values(
                             // More than enough after the signal: the first 10240 bytes.
                             SignalCase{"ReadsOnTo10240", 10000, DVKC_IDENTITY_READ_MAX},
                             // The file ends before 10240 bytes: all of its 8000.
                             SignalCase{"EndsAtTheFileEnd", 2000, 8000}),
                         [](const testing::TestParamInfo<SignalCase> &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dvkc
