# Runs Debian's hardening-check on the shipped binaries (the library and the
# tool) and fails unless every line reads "yes", apart from the two cases
# below. Also checks that no folder of the build machine is left in the
# library. Run with -P and:
#   BINARIES     the files to check
#   OBJECTS      the object files compiled into them
#   CXX_COMPILER the compiler that built them (to find the C library's crti.o)
#   NO_PATHS     folders that must not appear in the library
#   LIBRARY      the library, for that check
# (lists separated by |, which no path here holds).
#
# Accepted besides "yes":
#   "Position Independent Executable: no, regular shared library (ignored)":
#     a shared library is position independent by nature; hardening-check
#     itself ignores the line.
#   "Stack clash protection: unknown, no -fstack-clash-protection
#     instructions found": the probes are emitted only for stack frames above
#     a page or of variable size. Code with none of those has nothing to
#     protect, and the flag is given to every compilation (cmake/hardening.cmake).
#   "Control flow integrity: no": only when the C library's own start files
#     (crti.o, whose _init/_fini stubs every binary links) carry no IBT/SHSTK
#     note, as in Debian 12, whose glibc is built without CET. The linker
#     marks a binary only when every input is marked, so no binary linked
#     there can read yes. Instead, every object file compiled here must carry
#     the note, which catches a lost -fcf-protection.
cmake_minimum_required(VERSION 3.25)

foreach(list BINARIES OBJECTS NO_PATHS)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()

find_program(HARDENING_CHECK hardening-check REQUIRED)
find_program(READELF readelf REQUIRED)

function(cet_marked file result)
  execute_process(COMMAND ${READELF} -n "${file}" OUTPUT_VARIABLE notes RESULT_VARIABLE rc)
  if(rc EQUAL 0 AND notes MATCHES "x86 feature: IBT, SHSTK")
    set(${result} ON PARENT_SCOPE)
  else()
    set(${result} OFF PARENT_SCOPE)
  endif()
endfunction()

execute_process(COMMAND ${CXX_COMPILER} -print-file-name=crti.o
  OUTPUT_VARIABLE crti OUTPUT_STRIP_TRAILING_WHITESPACE)
cet_marked("${crti}" runtime_cet)

set(failures "")
foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND ${HARDENING_CHECK} --verbose "${binary}"
    OUTPUT_VARIABLE report ERROR_VARIABLE err)
  message(STATUS "${report}")
  string(REPLACE "\n" ";" lines "${report}")
  set(checked 0)
  foreach(line IN LISTS lines)
    # Verbose detail lines (protected:/unprotected:) start with a tab.
    if(NOT line MATCHES "^ ([^:]+): (.*)$")
      continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(verdict "${CMAKE_MATCH_2}")
    math(EXPR checked "${checked} + 1")
    if(verdict MATCHES "^yes")
      continue()
    elseif(name STREQUAL "Position Independent Executable" AND verdict MATCHES "regular shared library \\(ignored\\)")
      continue()
    elseif(name STREQUAL "Stack clash protection" AND verdict MATCHES "^unknown, no -fstack-clash-protection instructions found")
      continue()
    elseif(name STREQUAL "Control flow integrity" AND NOT runtime_cet)
      continue()
    endif()
    string(APPEND failures "${binary}: ${name}: ${verdict}\n")
  endforeach()
  if(checked LESS 7)
    message(FATAL_ERROR "hardening-check gave ${checked} lines for ${binary}:\n${report}\n${err}")
  endif()
endforeach()

if(NOT runtime_cet)
  message(STATUS "${crti} carries no CET note: control flow protection checked on each object instead")
  foreach(object IN LISTS OBJECTS)
    cet_marked("${object}" marked)
    if(NOT marked)
      string(APPEND failures "${object}: no IBT/SHSTK note (built without -fcf-protection?)\n")
    endif()
  endforeach()
endif()

# No build machine folder in the library: __FILE__ in OpenSSL's allocation
# macros and the like are rewritten by -ffile-prefix-map.
file(STRINGS "${LIBRARY}" texts)
foreach(folder IN LISTS NO_PATHS)
  foreach(text IN LISTS texts)
    string(FIND "${text}" "${folder}" at)
    if(NOT at EQUAL -1)
      string(APPEND failures "${LIBRARY}: holds the build path ${folder}: ${text}\n")
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "hardening:\n${failures}")
endif()
