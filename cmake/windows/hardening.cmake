# Hardening and reproducibility of everything built for Windows (the DLL, its
# tests and hosts).
#
# - Stack protector, and fortified string and stdio functions where
#   mingw-w64's headers provide them; both call into GCC's libssp, which the
#   static link (mingw-w64.cmake) puts inside the DLL, so no DLL is added to
#   its imports. OpenSSL is built with the same stack protector
#   (build_openssl.sh).
# - ASLR (also above 4 GiB on x64) and DEP, as binutils 2.40 sets them
#   anyway, spelled out.
# - Reproducible: no time stamp in the PE header, source and build folders
#   mapped to fixed names in the object code, the build's time taken from
#   the commit (SOURCE_DATE_EPOCH, also for the zip: package.cmake).
# Control Flow Guard needs support that Debian 12's mingw-w64 GCC and
# binutils do not have (README-windows.txt).
add_compile_options(-fstack-protector-strong)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=src/ -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/)
add_link_options(-fstack-protector-strong -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)
if(DVKC_WINDOWS_ARCH STREQUAL x64)
  add_link_options(-Wl,--high-entropy-va)
endif()

# The commit's time and its number in the history (the version resource's
# build field), re-read whenever the checkout's HEAD moves. Outside a git
# checkout: the time of CMakeLists.txt and build 0.
find_package(Git QUIET)
set(DVKC_BUILD_NUMBER 0)
unset(DVKC_SOURCE_DATE_EPOCH)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --absolute-git-dir
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE dvkc_git_dir RESULT_VARIABLE dvkc_git_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(dvkc_git_result EQUAL 0)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE DVKC_BUILD_NUMBER OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE DVKC_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(EXISTS ${dvkc_git_dir}/logs/HEAD)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${dvkc_git_dir}/logs/HEAD)
    endif()
  endif()
endif()
if(NOT DVKC_SOURCE_DATE_EPOCH)
  file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt DVKC_SOURCE_DATE_EPOCH "%s" UTC)
endif()
if(DVKC_BUILD_NUMBER GREATER 65535)
  set(DVKC_BUILD_NUMBER 65535)  # the field's 16 bits
endif()
message(STATUS "Build ${DVKC_BUILD_NUMBER}, SOURCE_DATE_EPOCH ${DVKC_SOURCE_DATE_EPOCH}")
