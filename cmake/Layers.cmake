# The source is built in layers, each a library that uses only the layers
# below it. A layer sees the headers of its own folder and of the layers it
# links, and no others: its include folder in the build tree holds one
# forwarding header for each header of its source folder, so that including a
# header of a higher layer does not compile. The chart of which layer uses
# which is the USES lines of src/CMakeLists.txt (and the README draws it).

# kt_layer(<target> <folder under src>
#          [PORTABLE files...]  built everywhere (no <windows.h>)
#          [WINDOWS files...]   built for Windows only
#          [USES layers...]     the layers below that it uses
#          [SYSTEM libraries...])
function(kt_layer target folder)
  cmake_parse_arguments(PARSE_ARGV 2 layer "" "" "PORTABLE;WINDOWS;USES;SYSTEM")
  set(sources ${layer_PORTABLE})
  if(WIN32)
    list(APPEND sources ${layer_WINDOWS})
  endif()
  list(TRANSFORM sources PREPEND "${KT_SOURCE_ROOT}/${folder}/")

  set(include_root "${CMAKE_BINARY_DIR}/layers/${target}")
  file(GLOB headers CONFIGURE_DEPENDS "${KT_SOURCE_ROOT}/${folder}/*.h")
  # A header moved or gone takes its forwarding header with it.
  file(GLOB forwards "${include_root}/${folder}/*.h")
  foreach(forward IN LISTS forwards)
    get_filename_component(name "${forward}" NAME)
    if(NOT EXISTS "${KT_SOURCE_ROOT}/${folder}/${name}")
      file(REMOVE "${forward}")
    endif()
  endforeach()
  foreach(header IN LISTS headers)
    get_filename_component(name "${header}" NAME)
    set(forward "#pragma once\n#include \"${header}\"\n")
    set(forward_file "${include_root}/${folder}/${name}")
    if(EXISTS "${forward_file}")
      file(READ "${forward_file}" existing)
    else()
      set(existing "")
    endif()
    if(NOT existing STREQUAL forward)
      file(WRITE "${forward_file}" "${forward}")
    endif()
  endforeach()

  if(sources)
    add_library(${target} STATIC ${sources})
    set(scope PUBLIC)
    target_link_libraries(${target} PRIVATE kt_warnings)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(${target} ${scope} "${include_root}")
  target_link_libraries(${target} ${scope} ${layer_USES})
  if(WIN32)
    target_link_libraries(${target} ${scope} ${layer_SYSTEM})
  endif()
endfunction()
