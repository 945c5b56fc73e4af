# Cross-building the Windows DLL with Debian's mingw-w64 (the -posix
# compilers: the win32 thread model has no std::thread or std::mutex), for
# the architecture that mingw-w64-x86_64.cmake or mingw-w64-i686.cmake set:
# CMAKE_SYSTEM_PROCESSOR and DVKC_MINGW_TARGET.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${DVKC_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DVKC_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${DVKC_MINGW_TARGET}-windres)
set(CMAKE_OBJDUMP ${DVKC_MINGW_TARGET}-objdump CACHE FILEPATH "objdump for PE files")

# Programs and the DLL carry their own C++ runtime, libgcc and winpthread, so
# that they need no DLL besides Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# The OpenSSL prefix is appended by cmake/windows/openssl.cmake.
set(CMAKE_FIND_ROOT_PATH /usr/${DVKC_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run through Wine: CMAKE_CROSSCOMPILING_EMULATOR is set
# by cmake/windows/wine.cmake, with a private prefix in the build tree.
