# Installs the build into a scratch prefix, builds the host example against
# it with find_package(Orlin), as a host project would, and runs it against
# the scripted transport: it logs in, stops the session through the class's
# Exit and releases it.
#   -DBUILD=<build dir> -DSOURCE=<source dir> -DWORK=<scratch dir>
#   -DPLUGIN_DIR=<directory of the scripted libwyln.so>
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
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PLUGIN_DIR}
  ${WORK}/example/host_example 127.0.0.1 1883 0 RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "logged in as client-1" OR NOT out MATCHES "session stopped: 0")
  message(FATAL_ERROR "the example against the scripted transport failed (${rc}):\n${out}\n${err}")
endif()
message(STATUS "the example builds against the installed package and stops its session through Exit")
