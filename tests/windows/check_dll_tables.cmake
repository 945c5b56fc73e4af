cmake_minimum_required(VERSION 3.25)
# Fails unless DLL is a DLL for the expected machine (FORMAT: objdump's
# pei-x86-64 or pei-i386) that exports exactly the six public functions, by
# plain name (on x86 too: no _name or name@bytes), and imports from Windows
# system DLLs only (no C++ runtime, libgcc, winpthread or OpenSSL DLL: those
# are linked in).
#   cmake -DDLL=DVKCDLL.dll -DOBJDUMP=x86_64-w64-mingw32-objdump -DFORMAT=pei-x86-64
#         -P check_dll_tables.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
if(NOT listing MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found "${listing}")
  message(FATAL_ERROR "${DLL} is not ${FORMAT} (${found})")
endif()
string(REPLACE "\n" ";" lines "${listing}")

set(exports "")
set(imports "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([A-Za-z_0-9@?$]+)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  elseif(in_names)
    set(in_names FALSE)
  endif()
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" name)
    list(APPEND imports ${name})
  endif()
endforeach()

list(SORT exports)
include(${CMAKE_CURRENT_LIST_DIR}/../exported_names.cmake)
set(expected ${DVKC_EXPORTED_NAMES})
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  expected: ${expected}\n  found:    ${exports}")
endif()

set(system_dlls kernel32.dll ws2_32.dll crypt32.dll advapi32.dll user32.dll bcrypt.dll msvcrt.dll)
list(REMOVE_DUPLICATES imports)
foreach(name IN LISTS imports)
  if(NOT name IN_LIST system_dlls AND NOT name MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${DLL} imports ${name}, which is no Windows system DLL\n  imports: ${imports}")
  endif()
endforeach()
message(STATUS "${FORMAT} exports: ${exports}")
message(STATUS "imports: ${imports}")
