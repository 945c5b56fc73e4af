// The sign command runs under a guard (the tool itself, started with
// --sign-guard) that leads the command's process group and takes the whole
// group down when the tool dies, even by SIGKILL.
#pragma once

#include <string_view>

namespace dvkc::tool {

// The argument that makes the tool a sign guard (never shown in help).
inline constexpr std::string_view sign_guard_flag = "--sign-guard";

// "dvkc --sign-guard CMD": runs CMD through /bin/sh -c with the guard's
// standard streams and ends as it does. Returns the exit status.
int sign_guard_main(int argc, char **argv);

}  // namespace dvkc::tool
