// The C library's send, taken over for the whole test program: it counts,
// for a thread that asks, then hands every call on unchanged.
#include "send_count.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace {

thread_local int *sends_counted = nullptr;

}  // namespace

extern "C" ssize_t send(int socket, const void *data, size_t size, int flags)
{
    using Real = ssize_t (*)(int, const void *, size_t, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "send"));
    const ssize_t sent = real(socket, data, size, flags);
    if (sends_counted != nullptr && sent > 0) {
        ++*sends_counted;
    }
    return sent;
}

namespace dvkc::test {

std::optional<int> sends_during(const std::function<void()> &work)
{
    struct Counting {
        int count = 0;
        Counting() { sends_counted = &count; }
        Counting(const Counting &) = delete;
        Counting &operator=(const Counting &) = delete;
        ~Counting() { sends_counted = nullptr; }
    } counting;
    work();
    return counting.count;
}

}  // namespace dvkc::test
