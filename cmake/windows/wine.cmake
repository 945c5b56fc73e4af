# Wine for the tests: the wrapper named by CMAKE_CROSSCOMPILING_EMULATOR and
# a private prefix, created (wineboot) once per build directory.
find_program(DVKC_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(DVKC_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(DVKC_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.sh.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
if(NOT EXISTS ${DVKC_WINEPREFIX}/system.reg)
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
