# The NuGet package as a user receives it: unpacked, it holds exactly the
# files it should; a host compiled against its assembly alone runs the whole
# binding test under Mono with its linux-x64 library, and no other.
#   cmake -DPACKAGE=Dvkc.<version>.nupkg -DMCS=mcs -DMONO=mono -DHOST_SOURCE=WholeQuery.cs
#         -DC_FACTS=c_facts.tsv -DDVKC_TOOL=dvkc -DWORK_DIR=DIR -P package_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
set(unpacked "${WORK_DIR}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${PACKAGE}" WORKING_DIRECTORY "${unpacked}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${PACKAGE}")
endif()

# The payload, without what nuget adds of its own (the manifest, the
# package's relationships, core properties and content types).
file(GLOB_RECURSE entries RELATIVE "${unpacked}" "${unpacked}/*")
list(FILTER entries EXCLUDE REGEX "^(_rels/|package/services/|\\[Content_Types\\]\\.xml$|Dvkc\\.nuspec$)")
list(SORT entries)
set(expected LICENSE README.md lib/net45/Dvkc.dll lib/net45/Dvkc.dll.config lib/net45/Dvkc.xml
    runtimes/linux-x64/native/libdvkc.so.1 runtimes/win-x64/native/DVKCDLL.dll
    runtimes/win-x86/native/DVKCDLL.dll)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "the package holds\n  ${entries}\nnot\n  ${expected}")
endif()
foreach(entry ${entries})
  file(SIZE "${unpacked}/${entry}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${entry} is empty")
  endif()
  message(STATUS "${size}\t${entry}")
endforeach()
file(READ "${unpacked}/lib/net45/Dvkc.xml" doc)
if(NOT doc MATCHES "<name>Dvkc</name>" OR NOT doc MATCHES "M:Dvkc\\.Query\\.Build")
  message(FATAL_ERROR "lib/net45/Dvkc.xml is not the assembly's documentation")
endif()
get_filename_component(package_name "${PACKAGE}" NAME)
file(READ "${unpacked}/Dvkc.nuspec" nuspec)
string(REGEX MATCH "<version>([^<]*)</version>" ignored "${nuspec}")
if(NOT package_name STREQUAL "Dvkc.${CMAKE_MATCH_1}.nupkg")
  message(FATAL_ERROR "${package_name} carries version ${CMAKE_MATCH_1}")
endif()

# A host's build: the assembly and its DLL map from lib/, the native
# library from runtimes/linux-x64/native/, nothing from the build tree.
set(host "${WORK_DIR}/host")
file(MAKE_DIRECTORY "${host}")
foreach(file lib/net45/Dvkc.dll lib/net45/Dvkc.dll.config runtimes/linux-x64/native/libdvkc.so.1)
  get_filename_component(name "${file}" NAME)
  file(COPY_FILE "${unpacked}/${file}" "${host}/${name}")
endforeach()
execute_process(COMMAND ${MCS} -nologo -warnaserror -r:${host}/Dvkc.dll -out:${host}/WholeQuery.exe ${HOST_SOURCE}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the host does not compile against the packed assembly")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=LD_PRELOAD
                        DVKC_EXPECT_LIBRARY=${host}/libdvkc.so.1
                        ${MONO} --debug ${host}/WholeQuery.exe ${C_FACTS} ${DVKC_TOOL} ${WORK_DIR}/run
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the packed host failed (${result})")
endif()
