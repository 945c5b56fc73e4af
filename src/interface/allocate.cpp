#include "interface/allocate.h"

#include <atomic>
#include <cstdlib>

namespace dvkc {
namespace {
// The tests' seam: set by them only, read atomically on every allocation.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<test_seam::AllocateHook> allocate_hook{nullptr};
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<test_seam::ReleaseHook> release_hook{nullptr};
}  // namespace

void *allocate(std::size_t size) noexcept
{
    const test_seam::AllocateHook hook = allocate_hook.load(std::memory_order_acquire);
    return hook != nullptr ? hook(size) : std::malloc(size);
}

void release(void *buffer) noexcept
{
    const test_seam::ReleaseHook hook = release_hook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook(buffer);
    } else {
        std::free(buffer);
    }
}

void test_seam::set_release_hook(ReleaseHook hook) noexcept
{
    release_hook.store(hook, std::memory_order_release);
}

void test_seam::set_allocate_hook(AllocateHook hook) noexcept
{
    allocate_hook.store(hook, std::memory_order_release);
}

}  // namespace dvkc
