# What the Windows build installs, and cpack's DVKCDLL-<version>-win64.zip
# (x64) or DVKCDLL-<version>-win32.zip (x86), the same files in both:
#   bin/DVKCDLL.dll                   the DLL (no other DLL needed)
#   lib/DVKCDLL.lib                   import library for MSVC (and lld-link)
#   lib/libDVKCDLL.dll.a              import library for mingw-w64 (GNU ld)
#   lib/DVKCDLL.def                   the export list
#   include/dvkc.h, include/dvkc.hpp  C and C++ headers
#   README-windows.txt                how a host uses it, and which OpenSSL
#                                     release is linked in
#   LICENSE                           the project's licence (Apache-2.0)
#   licenses/OpenSSL-LICENSE.txt      the licence of the OpenSSL linked in
#   licenses/mingw-w64-runtime.txt    Debian's copyright file of the mingw-w64
#                                     runtime linked in (winpthreads among it)
install(TARGETS dvkc
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${DVKC_MSVC_IMPORT_LIBRARY} ${PROJECT_SOURCE_DIR}/src/DVKCDLL.def DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/dvkc.h ${PROJECT_SOURCE_DIR}/include/dvkc.hpp
  DESTINATION include)
# The README as written, with what this build linked in appended.
file(READ ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt dvkc_readme)
string(APPEND dvkc_readme "
This package
------------
DVKCDLL ${PROJECT_VERSION}, build ${DVKC_BUILD_NUMBER}, for ${DVKC_WINDOWS_ARCH}.
${DVKC_OPENSSL_NOTE}
")
file(WRITE ${CMAKE_BINARY_DIR}/README-windows.txt.new "${dvkc_readme}")
configure_file(${CMAKE_BINARY_DIR}/README-windows.txt.new ${CMAKE_BINARY_DIR}/README-windows.txt COPYONLY)
install(FILES ${CMAKE_BINARY_DIR}/README-windows.txt ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
install(FILES ${DVKC_OPENSSL_PREFIX}/LICENSE.txt DESTINATION licenses RENAME OpenSSL-LICENSE.txt)
if(DVKC_WINDOWS_ARCH STREQUAL x86)
  set(DVKC_MINGW_RUNTIME_COPYRIGHT /usr/share/doc/mingw-w64-i686-dev/copyright)
else()
  set(DVKC_MINGW_RUNTIME_COPYRIGHT /usr/share/doc/mingw-w64-x86-64-dev/copyright)
endif()
if(EXISTS ${DVKC_MINGW_RUNTIME_COPYRIGHT})
  install(FILES ${DVKC_MINGW_RUNTIME_COPYRIGHT} DESTINATION licenses RENAME mingw-w64-runtime.txt)
endif()

set(CPACK_PACKAGE_NAME DVKCDLL)
set(CPACK_PACKAGE_VENDOR "${DVKC_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR ZIP)
if(DVKC_WINDOWS_ARCH STREQUAL x86)
  set(CPACK_PACKAGE_FILE_NAME DVKCDLL-${PROJECT_VERSION}-win32)
else()
  set(CPACK_PACKAGE_FILE_NAME DVKCDLL-${PROJECT_VERSION}-win64)
endif()
set(CPACK_STRIP_FILES ON)
# Reproducible zips: every entry dated at the commit (cpack reads
# SOURCE_DATE_EPOCH from its environment, which CPackOptions.cmake, read by
# cpack, sets), in sorted order (zip_in_order.cmake), with the same
# directory permissions whatever the umask.
configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake.in ${CMAKE_BINARY_DIR}/CPackOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackOptions.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/zip_in_order.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
