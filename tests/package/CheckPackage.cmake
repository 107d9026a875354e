# Installs the library into a scratch prefix, builds a consumer with find_package(varnel) against
# it and runs the consumer on the demo model.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
function(step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()
step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${WORK_DIR}/consumer -G Ninja
     -DCMAKE_PREFIX_PATH=${prefix})
step(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
step(${WORK_DIR}/consumer/consumer ${SOURCE_DIR}/tests/data/demo/house.dae)
if(NOT step_output MATCHES "^parts [1-9][0-9]* points [1-9]")
  message(FATAL_ERROR "unexpected consumer output: ${step_output}")
endif()
