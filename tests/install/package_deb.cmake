# Builds the Debian package with CPack and checks its contents and metadata.
# Run with -P and: BUILD_DIR WORK_DIR
cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/expect.cmake")

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND cpack -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}\n${err}")
endif()
file(GLOB debs "${WORK_DIR}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .deb in ${WORK_DIR}, found: ${debs}")
endif()
execute_process(COMMAND dpkg-deb --contents ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb --contents failed")
endif()
foreach(path ./usr/bin/dvkc ./usr/include/dvkc.h ./usr/include/dvkc.hpp "/libdvkc.so.1.0.0"
             "/libdvkc.so.1 -> libdvkc.so.1.0.0" "/libdvkc.so -> libdvkc.so.1" /pkgconfig/dvkc.pc
             /cmake/dvkc/dvkcConfig.cmake /cmake/dvkc/dvkcTargets.cmake
             ./usr/share/man/man1/dvkc.1.gz ./usr/share/bash-completion/completions/dvkc)
  expect("${contents}" "${path}" "package contents")
endforeach()
execute_process(COMMAND dpkg-deb --field ${debs} Package Version Architecture Depends
  OUTPUT_VARIABLE fields RESULT_VARIABLE rc)
expect("${fields}" "Package: dvkc" "package fields")
expect("${fields}" "Version: 1." "package fields")
expect("${fields}" "Architecture: amd64" "package fields")
expect("${fields}" "libssl3" "package dependencies")

# The project's licence in the machine-readable copyright file.
execute_process(COMMAND dpkg-deb --fsys-tarfile ${debs} OUTPUT_FILE "${WORK_DIR}/data.tar" RESULT_VARIABLE rc)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf data.tar ./usr/share/doc/dvkc/copyright
  WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "no usr/share/doc/dvkc/copyright in the package")
endif()
file(READ "${WORK_DIR}/usr/share/doc/dvkc/copyright" copyright)
expect("${copyright}" "Copyright: 2026 the dvkc authors\nLicense: Apache-2.0\n" "copyright file")
expect("${copyright}" "/usr/share/common-licenses/Apache-2.0" "copyright file")

# SHA256SUMS beside the package, naming it with its sum.
file(SHA256 ${debs} sum)
get_filename_component(deb_name ${debs} NAME)
file(READ "${WORK_DIR}/SHA256SUMS" sums)
expect("${sums}" "${sum}  ${deb_name}\n" "SHA256SUMS")

# lintian: no error and no warning (what it reports on purpose is in
# cmake/debian/lintian-overrides, with the reasons).
find_program(LINTIAN lintian REQUIRED)
execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${debs}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "lintian: ${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian (${rc}):\n${out}\n${err}")
endif()

message(STATUS "${debs}\n${fields}")
file(REMOVE_RECURSE "${WORK_DIR}")
