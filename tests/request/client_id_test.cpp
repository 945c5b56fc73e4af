// The identity file: opened close-on-exec, and digested up to a read error.
#include "request/client_id.h"

#include "platform/read_only_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

}  // namespace
}  // namespace dvkc
