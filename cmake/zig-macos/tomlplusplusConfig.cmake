# toml++ for the zig macOS builds: the host's headers in their header-only mode (the host's
# shared library is a Linux one), and only their own folder, as for nlohmann/json.
include(${CMAKE_CURRENT_LIST_DIR}/tomlplusplus_headers.cmake)
if(NOT TARGET tomlplusplus::tomlplusplus)
  set(only_toml ${CMAKE_BINARY_DIR}/tomlplusplus-only)
  file(MAKE_DIRECTORY ${only_toml})
  file(CREATE_LINK ${OMBREL_HOST_TOMLPLUSPLUS}/toml++ ${only_toml}/toml++ SYMBOLIC)
  add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
  set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${only_toml} INTERFACE_COMPILE_DEFINITIONS TOML_HEADER_ONLY=1)
endif()
