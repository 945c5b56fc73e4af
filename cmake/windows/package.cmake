# What the Windows build installs, and cpack's DVKCDLL-<version>-win64.zip:
#   bin/DVKCDLL.dll                   the DLL (no other DLL needed)
#   lib/DVKCDLL.lib, lib/DVKCDLL.def  import library and export list
#   include/dvkc.h, include/dvkc.hpp  C and C++ headers
#   README-windows.txt                how a host uses it
#   licenses/OpenSSL-LICENSE.txt      the licence of the OpenSSL linked in
install(TARGETS dvkc
  RUNTIME DESTINATION bin
  ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/src/DVKCDLL.def DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/dvkc.h ${PROJECT_SOURCE_DIR}/include/dvkc.hpp
  DESTINATION include)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-windows.txt DESTINATION .)
install(FILES ${DVKC_OPENSSL_PREFIX}/LICENSE.txt DESTINATION licenses RENAME OpenSSL-LICENSE.txt)

set(CPACK_PACKAGE_NAME DVKCDLL)
set(CPACK_PACKAGE_VENDOR "DVKCDLL")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME DVKCDLL-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
