cmake_policy(SET CMP0057 NEW)
# Fails when a GIS source includes an internal header of the library, or the library a GIS one,
# or when GIS sources outside its GDAL and PROJ parts (ogr/, driver/, proj/) include those: the
# tool loads them only when a command needs them. The glTF writer (src/gltf) and the 3D Tiles
# layer above it (src/tiles) sit on the same footing: <varnel/...>, gis/ and their own headers;
# so does the Python module (src/python), which sees <varnel/...> and gis/ alone.
file(GLOB_RECURSE gis ${SOURCE_DIR}/src/gis/* ${SOURCE_DIR}/src/gltf/* ${SOURCE_DIR}/src/tiles/*
     ${SOURCE_DIR}/src/python/*.cpp ${SOURCE_DIR}/src/python/*.h)
foreach(f ${gis})
  file(STRINGS ${f} includes REGEX "^#include \"")
  foreach(line ${includes})
    if(NOT line MATCHES "^#include \"(gis|gltf|tiles)/" OR (f MATCHES "/src/gis/" AND line MATCHES "\"(gltf|tiles)/")
       OR (f MATCHES "/src/gltf/" AND line MATCHES "\"tiles/")
       OR (f MATCHES "/src/python/" AND line MATCHES "\"(gltf|tiles)/"))
      message(FATAL_ERROR "${f}: ${line}: the GIS, glTF, tiles and Python layers use only <varnel/...> and the headers of their own layer and those below")
    endif()
  endforeach()
  if(NOT f MATCHES "/src/(gis/(ogr|driver|proj)|python)/")
    file(STRINGS ${f} heavy REGEX "^#include [<\"](gdal|ogr|cpl|proj)[_a-z]*\\.h")
    if(heavy)
      message(FATAL_ERROR "${f}: ${heavy}: GDAL and PROJ belong to src/gis/ogr, driver and proj")
    endif()
  endif()
endforeach()
file(GLOB_RECURSE core ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/include/*.h)
foreach(f ${core})
  if(NOT f MATCHES "/src/(gis|gltf|tiles|python)/")
    file(STRINGS ${f} includes REGEX "^#include \"(gis|gltf|tiles)/")
    if(includes)
      message(FATAL_ERROR "${f}: the library includes the GIS layer: ${includes}")
    endif()
  endif()
endforeach()

# Within the library, folders stand in layers and includes run down them. The arrows that run up
# are listed below, each file with its reason; any other fails.
set(layers util host xml tags document materials output assembly facade)
set(upward
  # The document is the reader the element classes parse from, and makes them.
  "tags/TagParse.h>document" "tags/Factory.cpp>document" "tags/Image.h>document"
  # Scene elements walk themselves: nodes, instances and primitives hand their parts to the
  # collector as the traversal reaches them.
  "tags/Controller.cpp>assembly" "tags/DataSources.cpp>assembly" "tags/Mesh.cpp>assembly"
  "tags/SceneGraph.cpp>assembly"
  # Materials are built for the manager that asks, from the effects it was lent.
  "materials/BuildMaterials.cpp>output")
foreach(f ${core})
  if(NOT f MATCHES "/src/([a-z]+)/([^/]+)$")
    continue()
  endif()
  set(folder ${CMAKE_MATCH_1})
  set(file "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
  list(FIND layers ${folder} own)
  if(own LESS 0)
    continue()
  endif()
  file(STRINGS ${f} includes REGEX "^#include \"[a-z]+/")
  foreach(line ${includes})
    string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
    list(FIND layers ${target} level)
    if(level GREATER own AND NOT "${file}>${target}" IN_LIST upward)
      message(FATAL_ERROR "${file}: ${line}: ${target}/ stands above ${folder}/; include down, or list the arrow with its reason")
    endif()
  endforeach()
endforeach()
