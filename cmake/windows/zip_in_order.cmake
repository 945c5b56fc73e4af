# Run by cpack after it made the zip (CPACK_POST_BUILD_SCRIPTS): makes the
# zip again from the same staged files, listed in sorted order, so that the
# entries' order does not depend on the order the file system lists them
# in. Their times come from SOURCE_DATE_EPOCH (cpack_options.cmake.in).
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${zip} NAME_WLE)
  get_filename_component(top ${CPACK_TEMPORARY_DIRECTORY} DIRECTORY)
  if(NOT IS_DIRECTORY ${top}/${name})
    message(FATAL_ERROR "no staged files for ${zip} in ${top}/${name}")
  endif()
  file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE ${top} ${top}/${name}/*)
  list(SORT entries)
  file(REMOVE ${zip})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip -- ${entries}
                  WORKING_DIRECTORY ${top} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "remaking ${zip} failed")
  endif()
endforeach()
