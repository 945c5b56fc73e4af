# Installs the Python binding with pip from a copy of the tree's layout into
# WORK_DIR/site: Debian's setuptools, no build isolation, no package index.
#   cmake -DPYTHON=... -DSOURCE_DIR=<tree> -DWORK_DIR=... -P pip_install_test.cmake
set(tree ${WORK_DIR}/tree)
file(REMOVE_RECURSE ${tree} ${WORK_DIR}/site)
file(MAKE_DIRECTORY ${tree}/bindings ${tree}/include)
file(COPY ${SOURCE_DIR}/CMakeLists.txt DESTINATION ${tree})
file(COPY ${SOURCE_DIR}/include/dvkc.h DESTINATION ${tree}/include)
file(COPY ${SOURCE_DIR}/bindings/results_table.py DESTINATION ${tree}/bindings)
file(COPY ${SOURCE_DIR}/bindings/python DESTINATION ${tree}/bindings PATTERN tests EXCLUDE
     PATTERN build EXCLUDE PATTERN "*.egg-info" EXCLUDE PATTERN __pycache__ EXCLUDE)
execute_process(
  COMMAND ${PYTHON} -m pip install --no-build-isolation --no-index --no-deps --no-cache-dir
          --disable-pip-version-check --root-user-action=ignore --quiet
          --target ${WORK_DIR}/site ${tree}/bindings/python
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pip install bindings/python failed (${status})")
endif()
if(NOT EXISTS ${WORK_DIR}/site/dvkc/_results.py)
  message(FATAL_ERROR "the installed package lacks dvkc/_results.py")
endif()
