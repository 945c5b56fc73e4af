// bin2hex over more than 2^30 bytes, in aliased memory (memfd and mmap:
// Linux only).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "dvkc.h"

namespace {

// Virtual memory whose every `chunk` bytes are one and the same physical
// buffer, so that a write over gigabytes costs only the chunk.
class AliasedRegion {
public:
    AliasedRegion(std::size_t size, std::size_t chunk) : size_((size + chunk - 1) / chunk * chunk)
    {
        const int fd = memfd_create("aliased", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(chunk)) != 0) {
            return;
        }
        void *base = mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base != MAP_FAILED) {
            base_ = static_cast<char *>(base);
            for (std::size_t at = 0; at < size_; at += chunk) {
                if (mmap(base_ + at, chunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd, 0) ==
                    MAP_FAILED) {
                    munmap(base_, size_);
                    base_ = nullptr;
                    break;
                }
            }
        }
        close(fd);
    }
    AliasedRegion(const AliasedRegion &) = delete;
    AliasedRegion &operator=(const AliasedRegion &) = delete;
    ~AliasedRegion()
    {
        if (base_ != nullptr) {
            munmap(base_, size_);
        }
    }
    char *data() const { return base_; }

private:
    std::size_t size_;
    char *base_ = nullptr;
};

// 2 * count passes 2^31 once count passes 2^30: the index must not wrap.
TEST(Bin2Hex, CountBeyondTwoToTheThirtiethWritesInPlace)
{
    if (sizeof(void *) < 8) {
        GTEST_SKIP() << "needs a 64-bit address space";
    }
    const std::int32_t count = (std::int32_t{1} << 30) + 2;
    const std::size_t chunk = std::size_t{1} << 22;
    const AliasedRegion in(static_cast<std::size_t>(count), chunk);
    const AliasedRegion out(2 * static_cast<std::size_t>(count) + 1, chunk);
    ASSERT_NE(in.data(), nullptr);
    ASSERT_NE(out.data(), nullptr);
    in.data()[(static_cast<std::size_t>(count) - 1) % chunk] = '\x5C';  // also the last byte, through the alias
    EXPECT_EQ(bin2hex(reinterpret_cast<const unsigned char *>(in.data()), count, out.data()), 0);
    const std::size_t end = 2 * static_cast<std::size_t>(count);
    EXPECT_EQ(out.data()[end], '\0');
    EXPECT_EQ(std::string(out.data() + end - 2, 2), "5C");
}

}  // namespace
