# Cross-building the Windows x86 (32-bit) DLL with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DVKC_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# A 64-bit time_t (time() is _time64, localtime_s _localtime64_s): without
# this define mingw-w64 gives x86 programs msvcrt's 32-bit time_t, which ends
# in 2038. OpenSSL is built with it too (build_openssl.sh).
set(CMAKE_C_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
set(CMAKE_CXX_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
