#include "dvkc.h"
#include "interface/allocate.h"

// Every buffer the library hands out comes from allocate().
extern "C" void vFreeData(void *buffer) noexcept
{
    dvkc::release(buffer);
}
