// The one place where the library allocates memory of its own: the texts it
// hands to the host (which vFreeData releases with std::free) and its working
// buffers. The allocation-failure tests reach it through a hook that the
// shared library never exports.
#pragma once

#include <cstddef>

namespace dvkc {

// std::malloc(size), unless a test hook is installed; null on failure.
void *allocate(std::size_t size) noexcept;

namespace test_seam {
// Called instead of std::malloc while installed; it must return memory that
// std::free releases, or null. Null uninstalls it.
using AllocateHook = void *(*)(std::size_t size);
void set_allocate_hook(AllocateHook hook) noexcept;
}  // namespace test_seam

}  // namespace dvkc
