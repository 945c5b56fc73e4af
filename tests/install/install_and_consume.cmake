# Installs the build into a fresh prefix, checks what is there, builds two
# small hosts against it (find_package, pkg-config) and runs them and the
# installed tool. Run with -P and:
#   BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER CXX_COMPILER GENERATOR
#   SANITIZE_FLAGS (the build's -fsanitize flags, or empty)
cmake_minimum_required(VERSION 3.25)

function(run)
  cmake_parse_arguments(RUN "" "WORKING_DIRECTORY;OUTPUT" "COMMAND" ${ARGN})
  execute_process(COMMAND ${RUN_COMMAND}
    WORKING_DIRECTORY "${RUN_WORKING_DIRECTORY}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(JOIN " " line ${RUN_COMMAND})
    message(FATAL_ERROR "failed (${rc}): ${line}\n${out}\n${err}")
  endif()
  if(RUN_OUTPUT)
    set(${RUN_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/expect.cmake")

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# 1. Install.
run(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# 2. What the prefix holds.
file(GLOB_RECURSE real_library "${prefix}/*/libdvkc.so.1.0.0")
list(LENGTH real_library count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one libdvkc.so.1.0.0 under ${prefix}, found: ${real_library}")
endif()
get_filename_component(libdir "${real_library}" DIRECTORY)
foreach(link libdvkc.so.1 libdvkc.so)
  if(NOT IS_SYMLINK "${libdir}/${link}")
    message(FATAL_ERROR "${libdir}/${link} is not a symbolic link")
  endif()
endforeach()
file(READ_SYMLINK "${libdir}/libdvkc.so.1" target)
if(NOT target STREQUAL "libdvkc.so.1.0.0")
  message(FATAL_ERROR "libdvkc.so.1 points to ${target}")
endif()
run(COMMAND readelf -d "${real_library}" OUTPUT dynamic)
expect("${dynamic}" "Library soname: [libdvkc.so.1]" "SONAME")
foreach(file include/dvkc.h include/dvkc.hpp bin/dvkc)
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "${file} was not installed")
  endif()
endforeach()
foreach(file cmake/dvkc/dvkcConfig.cmake cmake/dvkc/dvkcConfigVersion.cmake cmake/dvkc/dvkcTargets.cmake
             pkgconfig/dvkc.pc)
  if(NOT EXISTS "${libdir}/${file}")
    message(FATAL_ERROR "${libdir}/${file} was not installed")
  endif()
endforeach()

# 3. A C++ host through find_package(dvkc CONFIG).
set(flags "")
if(SANITIZE_FLAGS)
  set(flags "-DCMAKE_CXX_FLAGS=${SANITIZE_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${SANITIZE_FLAGS}")
endif()
run(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/consumer_cmake" -B "${WORK_DIR}/consumer_cmake"
            -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_PREFIX_PATH=${prefix}" ${flags})
run(COMMAND "${CMAKE_COMMAND}" --build "${WORK_DIR}/consumer_cmake")
run(COMMAND "${WORK_DIR}/consumer_cmake/consumer_cmake" OUTPUT out)
expect("${out}" "records 2 document " "find_package host")
expect("${out}" " client 40\n" "find_package host")
expect("${out}" "iParse_DVKResponsePKT 2005: the answer's nonce is not the one we sent" "find_package host")
message(STATUS "find_package host: ${out}")

# 4. A C host through pkg-config.
set(ENV{PKG_CONFIG_PATH} "${libdir}/pkgconfig")
run(COMMAND pkg-config --cflags dvkc OUTPUT cflags)
run(COMMAND pkg-config --libs dvkc OUTPUT libs)
run(COMMAND pkg-config --variable=libdir dvkc OUTPUT pc_libdir)
string(STRIP "${cflags}" cflags)
string(STRIP "${libs}" libs)
string(STRIP "${pc_libdir}" pc_libdir)
file(REAL_PATH "${pc_libdir}" pc_libdir)
if(NOT pc_libdir STREQUAL libdir)
  message(FATAL_ERROR "dvkc.pc names libdir ${pc_libdir}, the library is in ${libdir}")
endif()
separate_arguments(cflags UNIX_COMMAND "${cflags}")
separate_arguments(libs UNIX_COMMAND "${libs}")
separate_arguments(sanitize UNIX_COMMAND "${SANITIZE_FLAGS}")
run(COMMAND "${C_COMPILER}" -std=c99 -Wall -Wextra -Werror ${sanitize} ${cflags}
            "${SOURCE_DIR}/consumer_pkgconfig/main.c" -o "${WORK_DIR}/consumer_pkgconfig" ${libs}
            "-Wl,-rpath,${pc_libdir}")
run(COMMAND "${WORK_DIR}/consumer_pkgconfig" OUTPUT out)
expect("${out}" "hex 00ABFF code -1 document 1" "pkg-config host")
message(STATUS "pkg-config host: ${out}")

# 5. The installed tool finds the installed library.
run(COMMAND "${prefix}/bin/dvkc" codes 2005 OUTPUT out)
expect("${out}" "the answer's nonce is not the one we sent" "installed dvkc")
run(COMMAND ldd "${prefix}/bin/dvkc" OUTPUT linked)
expect("${linked}" "libdvkc.so.1 => ${prefix}/" "installed dvkc links the installed library")

file(REMOVE_RECURSE "${WORK_DIR}")
