# Dvkc.<version>.nupkg with Debian's nuget: the assembly for .NET Framework
# 4.5 and Mono, and the native library for each runtime identifier.
#   cmake -DNUGET=nuget -DVERSION=1.0.0 -DASSEMBLY_DIR=DIR (Dvkc.dll, Dvkc.xml, Dvkc.dll.config)
#         -DWIN_X64_DLL=PATH -DWIN_X86_DLL=PATH -DLINUX_LIBRARY=PATH (libdvkc.so.1's file)
#         -DREADME=PATH -DLICENSE=PATH -DWORK_DIR=DIR -DOUTPUT=Dvkc.<version>.nupkg -P pack.cmake
# Each native library is checked to be what its folder says (a PE DLL for
# x64 or x86, an x86-64 ELF), so that a swapped or stale path fails here.
cmake_minimum_required(VERSION 3.25)

foreach(name NUGET VERSION ASSEMBLY_DIR WIN_X64_DLL WIN_X86_DLL LINUX_LIBRARY README LICENSE WORK_DIR OUTPUT)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "pack.cmake: -D${name}= is required")
  endif()
endforeach()

# The bytes [offset, offset + count) of a file as lowercase hex.
function(read_hex file offset count out)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${count} HEX)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# A little-endian number of `count` bytes at `offset`.
function(read_le file offset count out)
  read_hex("${file}" ${offset} ${count} hex)
  set(value 0)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last} 0 -1)
    math(EXPR at "${i} * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR value "${value} * 256 + 0x${byte}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

function(check_pe file machine what)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "pack.cmake: ${what}: no file ${file}")
  endif()
  read_hex("${file}" 0 2 mz)
  read_le("${file}" 60 4 pe_offset)
  read_hex("${file}" ${pe_offset} 4 signature)
  math(EXPR machine_offset "${pe_offset} + 4")
  read_le("${file}" ${machine_offset} 2 found)
  if(NOT mz STREQUAL "4d5a" OR NOT signature STREQUAL "50450000" OR NOT found EQUAL ${machine})
    message(FATAL_ERROR "pack.cmake: ${file} is not a ${what} DLL")
  endif()
endfunction()

check_pe("${WIN_X64_DLL}" 34404 "Windows x64")  # IMAGE_FILE_MACHINE_AMD64, 0x8664
check_pe("${WIN_X86_DLL}" 332 "Windows x86")    # IMAGE_FILE_MACHINE_I386, 0x14c
read_hex("${LINUX_LIBRARY}" 0 5 elf)
read_le("${LINUX_LIBRARY}" 18 2 elf_machine)
if(NOT elf STREQUAL "7f454c4602" OR NOT elf_machine EQUAL 62)  # ELFCLASS64, EM_X86_64
  message(FATAL_ERROR "pack.cmake: ${LINUX_LIBRARY} is not an x86-64 ELF library")
endif()

# The package's tree, under the names it carries.
file(REMOVE_RECURSE "${WORK_DIR}")
set(lib "${WORK_DIR}/lib/net45")
file(MAKE_DIRECTORY "${lib}")
foreach(file Dvkc.dll Dvkc.xml Dvkc.dll.config)
  file(COPY_FILE "${ASSEMBLY_DIR}/${file}" "${lib}/${file}")
endforeach()
foreach(rid_file "win-x64;${WIN_X64_DLL};DVKCDLL.dll" "win-x86;${WIN_X86_DLL};DVKCDLL.dll"
                 "linux-x64;${LINUX_LIBRARY};libdvkc.so.1")
  list(GET rid_file 0 rid)
  list(GET rid_file 1 source)
  list(GET rid_file 2 name)
  file(MAKE_DIRECTORY "${WORK_DIR}/runtimes/${rid}/native")
  file(COPY_FILE "${source}" "${WORK_DIR}/runtimes/${rid}/native/${name}")
endforeach()
file(COPY_FILE "${README}" "${WORK_DIR}/README.md")
file(COPY_FILE "${LICENSE}" "${WORK_DIR}/LICENSE")

file(WRITE "${WORK_DIR}/Dvkc.nuspec" "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<package xmlns=\"http://schemas.microsoft.com/packaging/2010/07/nuspec.xsd\">
  <metadata>
    <id>Dvkc</id>
    <version>${VERSION}</version>
    <title>DVKCDLL for .NET</title>
    <authors>DVKCDLL developers</authors>
    <owners>DVKCDLL developers</owners>
    <licenseUrl>https://www.apache.org/licenses/LICENSE-2.0</licenseUrl>
    <requireLicenseAcceptance>false</requireLicenseAcceptance>
    <description>C# binding of DVKCDLL, the client library for querying the DVK service over HTTPS, with the native library for win-x64, win-x86 (DVKCDLL.dll, OpenSSL inside) and linux-x64 (libdvkc.so.1, which takes OpenSSL 3 from the system). See README.md and LICENSE in the package.</description>
    <tags>dvk dvkc native interop</tags>
  </metadata>
  <files>
    <file src=\"lib/net45/Dvkc.dll\" target=\"lib/net45\" />
    <file src=\"lib/net45/Dvkc.xml\" target=\"lib/net45\" />
    <file src=\"lib/net45/Dvkc.dll.config\" target=\"lib/net45\" />
    <file src=\"runtimes/win-x64/native/DVKCDLL.dll\" target=\"runtimes/win-x64/native\" />
    <file src=\"runtimes/win-x86/native/DVKCDLL.dll\" target=\"runtimes/win-x86/native\" />
    <file src=\"runtimes/linux-x64/native/libdvkc.so.1\" target=\"runtimes/linux-x64/native\" />
    <file src=\"README.md\" />
    <file src=\"LICENSE\" />
  </files>
</package>
")

# nuget keeps its settings under HOME: give it one of its own.
file(MAKE_DIRECTORY "${WORK_DIR}/home" "${WORK_DIR}/out")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env HOME=${WORK_DIR}/home
          ${NUGET} pack Dvkc.nuspec -OutputDirectory out -NoPackageAnalysis -NonInteractive -Verbosity quiet
  WORKING_DIRECTORY "${WORK_DIR}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${WORK_DIR}/out/Dvkc.${VERSION}.nupkg")
  message(FATAL_ERROR "pack.cmake: nuget pack failed (${result})")
endif()
file(COPY_FILE "${WORK_DIR}/out/Dvkc.${VERSION}.nupkg" "${OUTPUT}")
