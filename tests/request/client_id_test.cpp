// The identity file: opened close-on-exec, digested up to a read error, and
// read on where a signal cuts a read short.
#include "request/client_id.h"

#include "platform/read_only_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
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

volatile std::sig_atomic_t interruptions = 0;

void note_interruption(int)
{
    interruptions = interruptions + 1;
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

// Whether thread `tid` of this process sleeps (in its read, here).
bool sleeping(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = text.rfind(')');
    return after_name != std::string::npos && text.compare(after_name, 3, ") S") == 0;
}

// A FIFO gives 6000 bytes, then a signal without SA_RESTART cuts the next
// read short, then 10000 more bytes come: the first 10240 bytes are digested.
TEST(IdentityFile, ReadCutShortBySignalReadsOn)
{
    const sample::TempDir dir;
    const std::string fifo = (dir.path() / "identity.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = note_interruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    interruptions = 0;

    std::string bytes(16000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::atomic<pid_t> reader_tid{0};
    char client_id[DVKC_CLIENT_ID_LENGTH + 1] = {};
    bool digested = false;
    std::thread reader([&] {
        reader_tid = ::gettid();
        std::FILE *file = platform::open_for_reading(fifo.c_str());
        digested = file != nullptr && identity_client_id(file, client_id);
        if (file != nullptr) {
            std::fclose(file);
        }
    });
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // returns once the reader has it open
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, bytes.data(), 6000), 6000);
    // Once the FIFO is empty and the reader sleeps, it sleeps in the read that asks for the rest.
    for (int pending = 1; pending > 0 || !sleeping(reader_tid);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(::ioctl(writer, FIONREAD, &pending), 0);
    }
    ASSERT_EQ(::pthread_kill(reader.native_handle(), SIGUSR1), 0);
    while (interruptions == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(::write(writer, bytes.data() + 6000, 10000), 10000);
    ::close(writer);
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(digested);
    EXPECT_EQ(client_id, sha1_hex(bytes.substr(0, DVKC_IDENTITY_READ_MAX)));
}

}  // namespace
}  // namespace dvkc
