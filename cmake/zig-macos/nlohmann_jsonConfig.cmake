# nlohmann/json for the zig macOS builds: the host's headers, but only their own folder. Giving
# zig the folder they sit in (/usr/include) would put glibc's headers before the macOS SDK's.
include(${CMAKE_CURRENT_LIST_DIR}/nlohmann_json_headers.cmake)
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(only_json ${CMAKE_BINARY_DIR}/nlohmann-json-only)
  file(MAKE_DIRECTORY ${only_json})
  file(CREATE_LINK ${OMBREL_HOST_NLOHMANN_JSON}/nlohmann ${only_json}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${only_json})
endif()
