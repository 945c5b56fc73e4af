#include "test_platform.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace dvkc::test {

void set_environment(const char *name, const char *value)
{
    ::_putenv_s(name, value == nullptr ? "" : value);  // "" removes it
}

bool environment_keeps_empty_values()
{
    return false;
}

bool utc_time(std::time_t when, std::tm &out)
{
    return ::gmtime_s(&out, &when) == 0;
}

std::size_t page_size()
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwPageSize;
}

char *map_pages_with_guard(std::size_t total)
{
    char *base = static_cast<char *>(::VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr) {
        throw std::runtime_error("VirtualAlloc failed");
    }
    DWORD previous = 0;
    if (!::VirtualProtect(base + total - page_size(), page_size(), PAGE_NOACCESS, &previous)) {
        ::VirtualFree(base, 0, MEM_RELEASE);
        throw std::runtime_error("VirtualProtect failed");
    }
    return base;
}

void unmap_pages(char *base, std::size_t /*total*/) noexcept
{
    ::VirtualFree(base, 0, MEM_RELEASE);
}

}  // namespace dvkc::test
