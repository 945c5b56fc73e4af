#include "test_platform.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace dvkc::test {

void set_environment(const char *name, const char *value)
{
    if (value == nullptr) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
}

bool environment_keeps_empty_values()
{
    return true;
}

bool utc_time(std::time_t when, std::tm &out)
{
    return ::gmtime_r(&when, &out) != nullptr;
}

std::size_t page_size()
{
    return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

char *map_pages_with_guard(std::size_t total)
{
    void *map = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        throw std::runtime_error("mmap failed");
    }
    char *base = static_cast<char *>(map);
    if (::mprotect(base + total - page_size(), page_size(), PROT_NONE) != 0) {
        ::munmap(base, total);
        throw std::runtime_error("mprotect failed");
    }
    return base;
}

void unmap_pages(char *base, std::size_t total) noexcept
{
    ::munmap(base, total);
}

}  // namespace dvkc::test
