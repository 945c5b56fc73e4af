# CPack post-build script: writes SHA256SUMS beside the packages just made
# (in CPACK_PACKAGE_DIRECTORY, where CPack moves them next; the script sees
# them in its scratch folder), one "<sha256>  <file name>" line each, as
# sha256sum -c reads it, sorted so that the file depends on the packages alone.
set(lines "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" sum)
  get_filename_component(name "${package}" NAME)
  list(APPEND lines "${sum}  ${name}\n")
endforeach()
if(lines)
  list(SORT lines)
  list(JOIN lines "" text)
  file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${text}")
endif()
