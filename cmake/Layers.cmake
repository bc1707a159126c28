# Each folder of src/ is one library, and a library may include only its own
# folder and the folders it names as USES, all of them declared before it: so
# the folders cannot include each other in a cycle, and an include the
# declaration does not name stops the configuration.
#
# zvcert_layer(<folder> [USES folder...] [PORTABLE source...]
#              [WINDOWS source...] [SYSTEM library...] [LINUX source...])
#   PORTABLE sources build everywhere (natively for the unit tests), WINDOWS
#   sources and SYSTEM libraries only for Windows, LINUX sources only for
#   Linux. Makes zvcert_<folder>.
#
# As a script, for the tests:
#   cmake -DFOLDER=<dir> -DUSES="a;b" -P Layers.cmake
#   checks the includes of one folder's files.
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.20)
endif()

function(zvcert_check_layer_includes dir uses)
  get_filename_component(own ${dir} NAME)
  file(GLOB files ${dir}/*.h ${dir}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" folder "${line}")
      if(NOT folder STREQUAL own AND NOT folder IN_LIST uses)
        get_filename_component(name ${file} NAME)
        message(FATAL_ERROR "${own}/${name} includes ${folder}/, which the ${own} "
                            "library does not use (it uses: ${uses})")
      endif()
    endforeach()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  zvcert_check_layer_includes("${FOLDER}" "${USES}")
  return()
endif()

function(zvcert_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "USES;PORTABLE;WINDOWS;SYSTEM;LINUX")
  foreach(used IN LISTS arg_USES)
    get_property(declared GLOBAL PROPERTY ZVCERT_LAYERS)
    if(NOT used IN_LIST declared)
      message(FATAL_ERROR "${folder} uses ${used}, which is not declared before it")
    endif()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY ZVCERT_LAYERS ${folder})
  zvcert_check_layer_includes(${CMAKE_CURRENT_SOURCE_DIR}/${folder} "${arg_USES}")

  set(sources ${arg_PORTABLE})
  if(WIN32)
    list(APPEND sources ${arg_WINDOWS})
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND sources ${arg_LINUX})
  endif()
  list(TRANSFORM sources PREPEND ${folder}/)
  if(sources)
    add_library(zvcert_${folder} STATIC ${sources})
  else()
    # Declarations only, on this platform.
    add_library(zvcert_${folder} INTERFACE)
  endif()
  get_target_property(type zvcert_${folder} TYPE)
  set(scope PUBLIC)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    # Nothing may throw across the browser boundary.
    target_compile_options(zvcert_${folder} PRIVATE -fno-exceptions -fno-asynchronous-unwind-tables)
  endif()
  list(TRANSFORM arg_USES PREPEND zvcert_ OUTPUT_VARIABLE used_libraries)
  target_link_libraries(zvcert_${folder} ${scope} zvcert_options ${used_libraries})
  if(WIN32)
    target_link_libraries(zvcert_${folder} ${scope} ${arg_SYSTEM})
  endif()
endfunction()
