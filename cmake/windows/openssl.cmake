# A static OpenSSL 3.0 for Windows (x64 or x86), cross-built from Debian's sources
# once per build directory (cmake/windows/build_openssl.sh keeps it keyed by
# version and options), then found by find_package(OpenSSL) as usual.
set(DVKC_OPENSSL_CACHE ${CMAKE_BINARY_DIR}/openssl CACHE PATH
    "Where the cross-built OpenSSL is kept")
execute_process(
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/build_openssl.sh ${DVKC_OPENSSL_CACHE} ${DVKC_MINGW_TARGET}
  OUTPUT_VARIABLE dvkc_openssl_output
  RESULT_VARIABLE dvkc_openssl_result
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT dvkc_openssl_result EQUAL 0)
  message(FATAL_ERROR "Cross-building OpenSSL failed")
endif()
string(REGEX REPLACE ".*\n" "" DVKC_OPENSSL_PREFIX "${dvkc_openssl_output}")
file(READ ${DVKC_OPENSSL_PREFIX}/VERSION DVKC_OPENSSL_DEBIAN_VERSION)
string(STRIP "${DVKC_OPENSSL_DEBIAN_VERSION}" DVKC_OPENSSL_DEBIAN_VERSION)
message(STATUS "OpenSSL ${DVKC_OPENSSL_DEBIAN_VERSION} for ${DVKC_MINGW_TARGET}: ${DVKC_OPENSSL_PREFIX}")

list(APPEND CMAKE_FIND_ROOT_PATH ${DVKC_OPENSSL_PREFIX})
set(OPENSSL_ROOT_DIR ${DVKC_OPENSSL_PREFIX})
set(OPENSSL_USE_STATIC_LIBS TRUE)
