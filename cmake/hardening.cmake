# Hardening and reproducibility flags for the Linux build: what Debian's own
# packages get from dpkg-buildflags with DEB_BUILD_MAINT_OPTIONS=hardening=+all
# (stack protector, fortified libc calls, format checks, -z relro -z now, PIE),
# plus stack-clash and control-flow protection, which newer dpkg versions add
# to that set. Written out here rather than read from dpkg-buildflags, whose
# answer depends on the caller's environment (DEB_*FLAGS_APPEND and the like),
# so that a build's bytes depend on the sources alone.
#
# Applied to everything built for Linux: the library, the tool, the sample
# service linked into it, the examples and the tests alike. The Windows DLLs
# take their flags from cmake/windows/.
#
#   _FORTIFY_SOURCE needs an optimising build (glibc warns otherwise, which
#   -Werror turns into a failure), and it hides faults from the sanitizers
#   (their interceptors see the checked variants less well): it is left out
#   of Debug builds and of any build with -fsanitize.
#
# -ffile-prefix-map rewrites the source and build folders in __FILE__ (the
# file names OpenSSL's allocation macros record) and in debug information to
# fixed names, so that two builds of one commit in two folders give the same
# bytes; -Wdate-time rejects __DATE__ and __TIME__ for the same reason.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(
  -fstack-protector-strong
  -fstack-clash-protection
  -Wformat
  -Werror=format-security
  -Wdate-time
  "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
  "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  add_compile_options(-fcf-protection)
endif()

set(dvkc_sanitized OFF)
if("${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "-fsanitize=")
  set(dvkc_sanitized ON)
endif()
if(NOT dvkc_sanitized)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=3>)
endif()

add_link_options(LINKER:-z,relro LINKER:-z,now)

# The build tree's programs find the library through $ORIGIN, not through
# the build folder: the RUNPATH that installation rewrites in place keeps the
# length of the build-tree one, so an absolute folder there would make the
# packaged tool depend on where it was built.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)

# Whether this build gets every flag above: hardening-check (tests/tools)
# only expects "yes" on every line from such a build.
if(NOT dvkc_sanitized AND CMAKE_BUILD_TYPE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(DVKC_FULLY_HARDENED ON)
else()
  set(DVKC_FULLY_HARDENED OFF)
endif()
