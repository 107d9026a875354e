# Installs the library into a scratch prefix, builds a consumer with find_package(varnel) against
# it and runs the consumer on the demo model. DESTDIR keeps the GDAL plugin, which goes to GDAL's
# own folder, inside the scratch folder too.
set(root ${WORK_DIR}/root)
set(prefix ${root}/usr/local)
file(REMOVE_RECURSE ${WORK_DIR})
function(step)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()
step(${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr/local)
step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${WORK_DIR}/consumer -G Ninja
     -DCMAKE_PREFIX_PATH=${prefix})
step(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
step(${WORK_DIR}/consumer/consumer ${SOURCE_DIR}/tests/data/demo/house.dae)
if(NOT step_output MATCHES "^varnel [0-9]+\\.[0-9]+\\.[0-9]+ parts [1-9][0-9]* points [1-9]")
  message(FATAL_ERROR "unexpected consumer output: ${step_output}")
endif()
# The shared library exports its API and nothing of the reader, the collector or the elements.
file(GLOB library ${prefix}/lib*/libvarnel.so)
step(nm -D --defined-only -C ${library})
if(step_output MATCHES "XmlReader|SceneCollector|Tag::|DaeDocument|BaseArray")
  message(FATAL_ERROR "internal symbols exported by ${library}")
endif()
# The driver plugin exports its registration functions alone.
file(GLOB_RECURSE plugin ${root}/ogr_Varnel.so)
step(nm -D --defined-only ${plugin})
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\n" exported "${step_output}")
if(NOT exported STREQUAL "GDALRegisterMe\n;GDALRegister_Varnel\n;RegisterOGRVarnel\n")
  message(FATAL_ERROR "${plugin} exports: ${step_output}")
endif()
