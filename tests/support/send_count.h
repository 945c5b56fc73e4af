// How many sends the calling thread makes on its sockets while some work
// runs, where a test program can stand in for the C library's send (POSIX).
#pragma once

#include <functional>
#include <optional>

namespace dvkc::test {

// Runs `work` and returns the number of sends of at least one byte that this
// thread made meanwhile; nothing where sends cannot be counted (Windows).
std::optional<int> sends_during(const std::function<void()> &work);

}  // namespace dvkc::test
