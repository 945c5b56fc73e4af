// bin2hex over more than 2^30 bytes, in aliased memory (memfd: Linux only).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "dvkc.h"

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 22;

// Address space for `bytes` (rounded up to kChunk) that shows one kChunk of
// memory again and again, so that writing gigabytes costs only the chunk.
struct AliasedRegion {
    std::size_t size;
    void *base;
    bool ok;

    explicit AliasedRegion(std::size_t bytes) : size((bytes / kChunk + 1) * kChunk)
    {
        const int fd = memfd_create("aliased", MFD_CLOEXEC);
        base = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ok = fd >= 0 && base != MAP_FAILED && ftruncate(fd, static_cast<off_t>(kChunk)) == 0;
        for (std::size_t at = 0; ok && at < size; at += kChunk) {
            ok = mmap(data() + at, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    AliasedRegion(const AliasedRegion &) = delete;
    AliasedRegion &operator=(const AliasedRegion &) = delete;
    ~AliasedRegion()
    {
        if (base != MAP_FAILED) {
            munmap(base, size);
        }
    }
    char *data() const { return static_cast<char *>(base); }
};

// 2 * count passes 2^31 once count passes 2^30: the index must not wrap.
TEST(Bin2Hex, CountBeyondTwoToTheThirtiethWritesInPlace)
{
    if (sizeof(void *) < 8) {
        GTEST_SKIP() << "needs a 64-bit address space";
    }
    const std::int32_t count = (std::int32_t{1} << 30) + 2;
    const std::size_t end = 2 * static_cast<std::size_t>(count);
    const AliasedRegion in(static_cast<std::size_t>(count));
    const AliasedRegion out(end + 1);
    ASSERT_TRUE(in.ok && out.ok);
    in.data()[(static_cast<std::size_t>(count) - 1) % kChunk] = '\x5C';  // also the last byte, through the alias
    EXPECT_EQ(bin2hex(reinterpret_cast<const unsigned char *>(in.data()), count, out.data()), 0);
    EXPECT_EQ(out.data()[end], '\0');
    EXPECT_EQ(std::string(out.data() + end - 2, 2), "5C");
}

}  // namespace
