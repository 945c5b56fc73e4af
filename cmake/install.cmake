# Installation rules, CMake package, pkg-config file and CPack settings.
#
#   cmake --install <build> --prefix <prefix>
#     lib/libdvkc.so.1.0.0, libdvkc.so.1 -> it, libdvkc.so -> libdvkc.so.1
#     include/dvkc.h, include/dvkc.hpp
#     bin/dvkc                         (when the tool is built)
#     share/man/man1/dvkc.1.gz         its man page (when help2man is there)
#     share/bash-completion/completions/dvkc
#     lib/cmake/dvkc/                  find_package(dvkc CONFIG) -> dvkc::dvkc
#     lib/pkgconfig/dvkc.pc            pkg-config dvkc
#   cpack -G DEB                       the same as one Debian package
# ("lib" is CMAKE_INSTALL_LIBDIR, e.g. lib/x86_64-linux-gnu for /usr.)
include(CMakePackageConfigHelpers)

set(DVKC_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/dvkc)
set(DVKC_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS dvkc EXPORT dvkcTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT runtime
          NAMELINK_COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/dvkc.h ${PROJECT_SOURCE_DIR}/include/dvkc.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development)
if(DVKC_BUILD_TOOLS)
  # The tool finds the library next to it: INSTALL_RPATH $ORIGIN/../<libdir>.
  install(TARGETS dvkc_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/dvkc/share/dvkc.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME dvkc
    COMPONENT tool)
  if(TARGET dvkc_man)
    install(FILES ${PROJECT_BINARY_DIR}/tools/dvkc/dvkc.1.gz
      DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
      COMPONENT tool)
  endif()
endif()

# CMake package: dvkcConfig.cmake, its version file and the exported target.
install(EXPORT dvkcTargets
  NAMESPACE dvkc::
  DESTINATION ${DVKC_INSTALL_CMAKEDIR}
  COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/dvkcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dvkcConfig.cmake
  INSTALL_DESTINATION ${DVKC_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dvkcConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dvkcConfig.cmake ${PROJECT_BINARY_DIR}/dvkcConfigVersion.cmake
  DESTINATION ${DVKC_INSTALL_CMAKEDIR}
  COMPONENT development)

# pkg-config: the prefix is found from the .pc file's own place, so the file
# is right for any --prefix and for the package alike.
file(RELATIVE_PATH DVKC_PC_TO_PREFIX
  /prefix/${DVKC_INSTALL_PKGCONFIGDIR} /prefix)
string(REGEX REPLACE "/$" "" DVKC_PC_TO_PREFIX "${DVKC_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/dvkc.pc.in ${PROJECT_BINARY_DIR}/dvkc.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dvkc.pc
  DESTINATION ${DVKC_INSTALL_PKGCONFIGDIR}
  COMPONENT development)

# Debian's documentation files: the copyright and the changelog (gzip -9n).
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT runtime)
# What lintian reports on purpose, each with its reason (the file says).
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME dvkc
  COMPONENT runtime)

# One Debian package with everything above, installed under /usr; the
# library registered through dpkg's ldconfig trigger.
set(CPACK_PACKAGE_NAME dvkc)
set(CPACK_PACKAGE_VENDOR "the dvkc authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "libdvkc.so.1 builds, signs, sends and parses queries to the DVK service over\n\
HTTPS; with the C and C++ headers, the CMake package, dvkc.pc and the\n\
dvkc tool.")
set(CPACK_PACKAGE_CONTACT "DVKCDLL maintainers <maintainers@dvkcdll.invalid>")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_STRIP_FILES ON)
# Archive members dated from SOURCE_DATE_EPOCH when it is set (the commit's
# time, .ci/reproducible-linux); SHA256SUMS written beside the package.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake)
include(CPack)
