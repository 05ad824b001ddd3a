# Installs the build into a scratch prefix and builds the host example
# against it with find_package(Orlin), as a host project would.
#   -DBUILD=<build dir> -DSOURCE=<source dir> -DWORK=<scratch dir>
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tools/example -B ${WORK}/example
  -DCMAKE_PREFIX_PATH=${WORK}/prefix RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the example against the package failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/example RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the example against the package failed:\n${out}")
endif()
message(STATUS "the example builds against the installed package")
