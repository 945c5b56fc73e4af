cmake_minimum_required(VERSION 3.25)
# Runs version_info on the DLL and fails unless its version resource carries
# the project's version (as numbers and as text, file and product), the
# description, the DLL's name and a licence notice.
#   cmake -DRUN=wine-run -DPROGRAM=version_info.exe -DDLL=Z:DVKCDLL.dll
#         -DVERSION=1.0.0 -DDESCRIPTION=... -P check_version_info.cmake
execute_process(COMMAND ${RUN} ${PROGRAM} ${DLL} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REPLACE "\r" "" listing "${listing}")
message(STATUS "version resource:\n${listing}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "version_info failed (${rc})")
endif()
set(expected
  "fixed ${VERSION}.0 / ${VERSION}.0"
  "FileDescription ${DESCRIPTION}"
  "FileVersion ${VERSION}"
  "ProductName DVKCDLL"
  "ProductVersion ${VERSION}"
  "OriginalFilename DVKCDLL.dll")
foreach(line IN LISTS expected)
  string(FIND "${listing}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the version resource lacks \"${line}\"")
  endif()
endforeach()
if(NOT listing MATCHES "\nLegalCopyright [^\n]*OpenSSL[^\n]*Apache License 2.0")
  message(FATAL_ERROR "the version resource's LegalCopyright does not name OpenSSL's licence")
endif()
