#include "platform/pause.h"

#include <windows.h>

namespace dvkc::platform {

void pause_5ms() noexcept
{
    ::Sleep(5);
}

}  // namespace dvkc::platform
