# Wine for the tests: the wrapper named by CMAKE_CROSSCOMPILING_EMULATOR and
# a private prefix, created (wineboot) once per build directory.
# x64 programs run in a 64-bit prefix, x86 ones in a 32-bit prefix through
# the 32-bit loader (Debian's wine32 for the i386 architecture).
# Wine's 32-bit loader is itself an i386 Linux program, from Debian's wine32
# of the i386 architecture: where that package cannot be installed (./dev
# goes on without it), or the machine's kernel or hypervisor runs no 32-bit
# process (some virtual machines), x86 Windows programs cannot run at all.
# Then the x86 programs are still built, the checks that need no Wine run,
# and one test (tests/windows) says what did not run and why.
set(DVKC_WINE_RUNS TRUE)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(DVKC_WINEARCH win32)
  find_program(DVKC_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT DVKC_WINE OR NOT EXISTS /usr/lib/wine/wineserver32)
    set(DVKC_WINE_RUNS FALSE)
    set(DVKC_WINE_NOT_RUNNING "32-bit Wine (wine32 of the i386 architecture) is not installed")
    set(DVKC_WINE /usr/lib/wine/wine)
  endif()
else()
  set(DVKC_WINEARCH win64)
  find_program(DVKC_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endif()
find_program(DVKC_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(DVKC_WINE_RUNS)
  execute_process(COMMAND ${DVKC_WINE} --version RESULT_VARIABLE dvkc_wine_version_result
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT dvkc_wine_version_result EQUAL 0)
    set(DVKC_WINE_RUNS FALSE)
    set(DVKC_WINE_NOT_RUNNING "${DVKC_WINE} does not run on this machine (${dvkc_wine_version_result})")
  endif()
endif()
if(NOT DVKC_WINE_RUNS)
  message(WARNING "${DVKC_WINE_NOT_RUNNING}: it cannot execute ${DVKC_WINEARCH} programs, "
                  "so the tests under Wine are left out (the DLL is still built, checked and packaged)")
endif()
set(DVKC_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
if(DVKC_WINE_RUNS AND DVKC_BUILD_TESTS AND NOT EXISTS ${DVKC_WINEPREFIX}/system.reg)
  message(STATUS "Creating the Wine prefix ${DVKC_WINEPREFIX}")
  execute_process(COMMAND ${CMAKE_BINARY_DIR}/wine-run wineboot --init
                  RESULT_VARIABLE wineboot_result OUTPUT_QUIET ERROR_QUIET)
  if(NOT wineboot_result EQUAL 0 OR NOT EXISTS ${DVKC_WINEPREFIX}/system.reg)
    message(FATAL_ERROR "wineboot could not create ${DVKC_WINEPREFIX}")
  endif()
endif()

# Every program built here (tests, their discovery, the example host) runs
# through the wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run CACHE STRING
    "Runs a Windows program built here" FORCE)
