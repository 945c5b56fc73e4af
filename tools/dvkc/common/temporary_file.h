// An unnamed file of our own in the temporary directory ($TMPDIR, else
// /tmp), open for reading and writing, gone when its descriptor is closed.
#pragma once

#include <string>

namespace dvkc::tool {

// The descriptor (close-on-exec), or -1 with errno set.
int unnamed_temporary_file();

// Where unnamed_temporary_file() makes them.
std::string temporary_directory();

}  // namespace dvkc::tool
