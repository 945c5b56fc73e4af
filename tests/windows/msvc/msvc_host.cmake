# msvc_host.exe: a C host compiled for the MSVC target by clang and linked
# by lld-link against DVKCDLL.lib (the MSVC import library) and an msvcrt
# import library made from msvcrt.def, both by llvm-dlltool. It is built in
# a folder of its own with a copy of DVKCDLL.dll beside it, where Windows
# looks first. Sets DVKC_MSVC_HOST.
find_program(DVKC_MSVC_CLANG NAMES clang-14 clang REQUIRED)
find_program(DVKC_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
if(DVKC_WINDOWS_ARCH STREQUAL x86)
  # x86 hosts built with stdcall as their default (/Gz): the header must
  # still make them call the library as cdecl.
  set(msvc_target i686-pc-windows-msvc)
  set(msvc_flags -mrtd)
else()
  set(msvc_target x86_64-pc-windows-msvc)
  set(msvc_flags)
endif()
set(msvc_dir ${CMAKE_CURRENT_BINARY_DIR}/msvc-host)
set(msvc_source ${CMAKE_CURRENT_SOURCE_DIR}/msvc/msvc_host.c)
set(msvc_def ${CMAKE_CURRENT_SOURCE_DIR}/msvc/msvcrt.def)
set(DVKC_MSVC_HOST ${msvc_dir}/msvc_host.exe)
add_custom_command(OUTPUT ${DVKC_MSVC_HOST} ${msvc_dir}/DVKCDLL.dll
  COMMAND ${CMAKE_COMMAND} -E make_directory ${msvc_dir}
  COMMAND ${DVKC_LLVM_DLLTOOL} -m ${DVKC_DLLTOOL_MACHINE} -d ${msvc_def} -l ${msvc_dir}/msvcrt.lib
  COMMAND ${DVKC_MSVC_CLANG} --target=${msvc_target} -ffreestanding -fpack-struct=1 ${msvc_flags} -O2 -std=c99
          -Wall -Wextra -Wpedantic -Werror -I${PROJECT_SOURCE_DIR}/include -c ${msvc_source}
          -o ${msvc_dir}/msvc_host.obj
  COMMAND ${DVKC_LLD_LINK} /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib
          /out:${DVKC_MSVC_HOST} ${msvc_dir}/msvc_host.obj ${DVKC_MSVC_IMPORT_LIBRARY} ${msvc_dir}/msvcrt.lib
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:dvkc> ${msvc_dir}/DVKCDLL.dll
  DEPENDS ${msvc_source} ${msvc_def} ${PROJECT_SOURCE_DIR}/include/dvkc.h ${DVKC_MSVC_IMPORT_LIBRARY} dvkc
          dvkc_msvc_import_library
  COMMENT "Building the MSVC-target host msvc_host.exe (clang, lld-link)"
  VERBATIM)
add_custom_target(msvc_host ALL DEPENDS ${DVKC_MSVC_HOST})
