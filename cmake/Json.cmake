# nlohmann/json (header only) as kt_json. Where CMake finds its package
# (Debian's nlohmann-json3-dev natively, vcpkg on Windows) from there; a
# mingw cross build cannot take /usr/include itself, so it gets a folder that
# holds only a link to the system's copy.
if(TARGET kt_json)
  return()
endif()
add_library(kt_json INTERFACE)
if(CMAKE_CROSSCOMPILING AND EXISTS /usr/include/nlohmann/json.hpp)
  set(kt_json_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${kt_json_dir})
  file(CREATE_LINK /usr/include/nlohmann ${kt_json_dir}/nlohmann SYMBOLIC)
  target_include_directories(kt_json SYSTEM INTERFACE ${kt_json_dir})
else()
  find_package(nlohmann_json 3.10 REQUIRED)
  target_link_libraries(kt_json INTERFACE nlohmann_json::nlohmann_json)
endif()
