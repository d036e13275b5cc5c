# The library's modules as separate object libraries, each seeing include/ and only the internal
# headers (src/<module>/*.h) of itself and of the modules src/layers.txt lets it use.
#
# For each module M this defines the object library tesmar_M over src/M/*.cpp and the list
# TESMAR_MODULES of every module, bottom first. The internal headers a module may include are
# reached through build/layers/M/, a folder of links to the allowed module folders, so that
# `#include "mda/mda_internal.h"` compiles in a module only when it may use MDA.

file(STRINGS ${PROJECT_SOURCE_DIR}/src/layers.txt TESMAR_LAYER_LINES)
set(TESMAR_MODULES "")
foreach(line IN LISTS TESMAR_LAYER_LINES)
  string(REGEX REPLACE "#.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([a-z ]+):(.*)$")
    message(FATAL_ERROR "src/layers.txt: cannot read the line '${line}'")
  endif()
  separate_arguments(group UNIX_COMMAND "${CMAKE_MATCH_1}")
  separate_arguments(uses UNIX_COMMAND "${CMAKE_MATCH_2}")
  # What the group may use: itself, its direct uses and everything they may use.
  set(allowed ${group})
  foreach(used IN LISTS uses)
    if(NOT used IN_LIST TESMAR_MODULES)
      message(FATAL_ERROR "src/layers.txt: '${used}' is used before it is listed")
    endif()
    list(APPEND allowed ${used} ${TESMAR_ALLOWED_${used}})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  foreach(module IN LISTS group)
    set(TESMAR_ALLOWED_${module} ${allowed})
    list(APPEND TESMAR_MODULES ${module})
  endforeach()
endforeach()

# Every folder of src/ must be a listed module.
file(GLOB TESMAR_SRC_FOLDERS LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/src/*)
foreach(folder IN LISTS TESMAR_SRC_FOLDERS)
  get_filename_component(name ${folder} NAME)
  if(IS_DIRECTORY ${folder} AND NOT name IN_LIST TESMAR_MODULES)
    message(FATAL_ERROR "src/${name} is not listed in src/layers.txt")
  endif()
endforeach()

set(TESMAR_MODULE_OBJECTS "")
foreach(module IN LISTS TESMAR_MODULES)
  set(view ${PROJECT_BINARY_DIR}/layers/${module})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(allowed IN LISTS TESMAR_ALLOWED_${module})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${allowed} ${view}/${allowed} SYMBOLIC)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${module}/*.cpp)
  add_library(tesmar_${module} OBJECT ${sources})
  target_include_directories(tesmar_${module} PRIVATE ${PROJECT_SOURCE_DIR}/include ${view})
  target_compile_definitions(tesmar_${module} PRIVATE TESMAR_BUILDING)
  target_link_libraries(tesmar_${module} PRIVATE tesmar_flags)
  list(APPEND TESMAR_MODULE_OBJECTS $<TARGET_OBJECTS:tesmar_${module}>)
endforeach()
