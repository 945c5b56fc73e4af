cmake_minimum_required(VERSION 3.25)
# Runs version_info on the DLL and fails unless its version resource carries
# the project's version and build number (as numbers and as text, file and
# product), the description, the DLL's name, the owner and licence, and in
# Comments the OpenSSL release that was built for it: the one named by the
# OpenSSL build's RELEASE file and by its headers.
#   cmake -DRUN=wine-run -DPROGRAM=version_info.exe -DDLL=Z:DVKCDLL.dll
#         -DVERSION=1.0.0 -DBUILD=123 -DDESCRIPTION=... -DOPENSSL_PREFIX=...
#         -P check_version_info.cmake
file(STRINGS ${OPENSSL_PREFIX}/RELEASE release LIMIT_COUNT 1)
file(STRINGS ${OPENSSL_PREFIX}/include/openssl/opensslv.h header_release
     REGEX "^# *define OPENSSL_VERSION_STR \"[0-9.]+\"")
if(NOT header_release MATCHES "\"${release}\"")
  message(FATAL_ERROR "the OpenSSL build says ${release}, its headers: ${header_release}")
endif()

execute_process(COMMAND ${RUN} ${PROGRAM} ${DLL} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REPLACE "\r" "" listing "${listing}")
message(STATUS "version resource:\n${listing}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "version_info failed (${rc})")
endif()
set(expected
  "fixed ${VERSION}.${BUILD} / ${VERSION}.${BUILD}"
  "FileDescription ${DESCRIPTION}"
  "FileVersion ${VERSION}.${BUILD}"
  "ProductName DVKCDLL"
  "ProductVersion ${VERSION}"
  "LegalCopyright Copyright 2026 the dvkc authors, Apache-2.0"
  "CompanyName the dvkc authors"
  "Comments OpenSSL ${release}"
  "OriginalFilename DVKCDLL.dll")
foreach(line IN LISTS expected)
  string(FIND "${listing}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the version resource lacks \"${line}\"")
  endif()
endforeach()
