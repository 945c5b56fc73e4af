#include <cstdlib>

#include "dvkc.h"

// Every buffer the library hands out comes from std::malloc.
extern "C" void vFreeData(void *buffer) noexcept
{
    std::free(buffer);
}
