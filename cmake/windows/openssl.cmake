# A static OpenSSL 3.0 for Windows (x64 or x86), cross-built from the newest
# OpenSSL 3.0 source the machine's apt sources offer (security suite first)
# by cmake/windows/build_openssl.sh, kept in a cache keyed by release and
# options, then found by find_package(OpenSSL) as usual.
#
# DVKC_OPENSSL_VERSION (cache variable, or the environment variable of that
# name at the first configure) names a Debian version of openssl, e.g.
# 3.0.20-1~deb12u2, to build instead of the newest: the only way to build an
# older release, and then the configure output and the zip's README say so.
set(DVKC_OPENSSL_CACHE ${CMAKE_BINARY_DIR}/openssl CACHE PATH
    "Where the cross-built OpenSSL is kept")
set(DVKC_OPENSSL_VERSION "$ENV{DVKC_OPENSSL_VERSION}" CACHE STRING
    "Debian version of OpenSSL to build instead of the newest offered (empty: the newest)")
execute_process(
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/build_openssl.sh ${DVKC_OPENSSL_CACHE} ${DVKC_MINGW_TARGET}
          "${DVKC_OPENSSL_VERSION}"
  OUTPUT_VARIABLE dvkc_openssl_output
  RESULT_VARIABLE dvkc_openssl_result
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT dvkc_openssl_result EQUAL 0)
  message(FATAL_ERROR "Cross-building OpenSSL failed: see the lines above")
endif()
foreach(field prefix newest chosen)
  if(NOT dvkc_openssl_output MATCHES "(^|\n)${field}=([^\n]*)")
    message(FATAL_ERROR "build_openssl.sh gave no ${field}")
  endif()
  set(dvkc_openssl_${field} "${CMAKE_MATCH_2}")
endforeach()
set(DVKC_OPENSSL_PREFIX ${dvkc_openssl_prefix})
file(STRINGS ${DVKC_OPENSSL_PREFIX}/RELEASE DVKC_OPENSSL_RELEASE LIMIT_COUNT 1)
file(STRINGS ${DVKC_OPENSSL_PREFIX}/ORIGIN DVKC_OPENSSL_ORIGIN LIMIT_COUNT 1)
file(STRINGS ${DVKC_OPENSSL_PREFIX}/OPENSSLDIR DVKC_OPENSSL_DIR LIMIT_COUNT 1)
message(STATUS "OpenSSL ${DVKC_OPENSSL_RELEASE} for ${DVKC_MINGW_TARGET}, built from ${DVKC_OPENSSL_ORIGIN}: "
               "${DVKC_OPENSSL_PREFIX}")

# What the zip's README says about the OpenSSL inside (package.cmake).
set(DVKC_OPENSSL_NOTE "The DLL links OpenSSL ${DVKC_OPENSSL_RELEASE}, built from ${DVKC_OPENSSL_ORIGIN}.")
if(NOT DVKC_OPENSSL_VERSION STREQUAL "")
  if(dvkc_openssl_newest STREQUAL dvkc_openssl_chosen)
    set(dvkc_openssl_older "")
  elseif(dvkc_openssl_newest STREQUAL "unknown")
    set(dvkc_openssl_older "whether a newer one is offered was not checked")
  else()
    set(dvkc_openssl_older "the newest offered was ${dvkc_openssl_newest}")
  endif()
  if(NOT dvkc_openssl_older STREQUAL "")
    message(WARNING "\n*** OpenSSL ${DVKC_OPENSSL_RELEASE} (${dvkc_openssl_chosen}) is built because "
                    "DVKC_OPENSSL_VERSION names it: ${dvkc_openssl_older}. ***\n")
    string(APPEND DVKC_OPENSSL_NOTE "\nTHIS IS NOT THE NEWEST RELEASE: the build was asked for "
           "${dvkc_openssl_chosen} (DVKC_OPENSSL_VERSION); ${dvkc_openssl_older}.")
  endif()
endif()

# A new release has a new prefix: what find_package(OpenSSL) cached from the
# old one is forgotten.
if(NOT DVKC_OPENSSL_PREFIX STREQUAL "$CACHE{DVKC_OPENSSL_PREFIX_FOUND}")
  foreach(variable OPENSSL_INCLUDE_DIR OPENSSL_CRYPTO_LIBRARY OPENSSL_SSL_LIBRARY)
    unset(${variable} CACHE)
  endforeach()
  set(DVKC_OPENSSL_PREFIX_FOUND ${DVKC_OPENSSL_PREFIX} CACHE INTERNAL "")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${DVKC_OPENSSL_PREFIX})
set(OPENSSL_ROOT_DIR ${DVKC_OPENSSL_PREFIX})
set(OPENSSL_USE_STATIC_LIBS TRUE)
