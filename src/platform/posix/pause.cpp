#include "platform/pause.h"

#include <cerrno>
#include <ctime>

namespace dvkc::platform {

void pause_5ms() noexcept
{
    timespec left{0, 5'000'000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace dvkc::platform
