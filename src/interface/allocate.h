// The one place where the library allocates and releases memory of its own:
// the texts it hands to the host (which vFreeData releases) and its working
// buffers. The tests reach both through hooks that the shared library never
// exports: to make allocations fail, and to count releases.
#pragma once

#include <cstddef>

namespace dvkc {

// std::malloc(size), unless a test hook is installed; null on failure.
void *allocate(std::size_t size) noexcept;

// std::free(buffer), unless a test hook is installed.
void release(void *buffer) noexcept;

namespace test_seam {
// Called instead of std::malloc while installed; it must return memory that
// std::free releases, or null. Null uninstalls it.
using AllocateHook = void *(*)(std::size_t size);
void set_allocate_hook(AllocateHook hook) noexcept;

// Called instead of std::free while installed; it must release what
// std::malloc gave. Null uninstalls it.
using ReleaseHook = void (*)(void *buffer);
void set_release_hook(ReleaseHook hook) noexcept;
}  // namespace test_seam

}  // namespace dvkc
