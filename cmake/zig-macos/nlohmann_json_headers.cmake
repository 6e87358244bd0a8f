# Finds the host's nlohmann/json headers (Debian's nlohmann-json3-dev, Homebrew's nlohmann-json)
# and their version. Sets OMBREL_HOST_NLOHMANN_JSON (the folder holding nlohmann/) and
# OMBREL_HOST_NLOHMANN_JSON_VERSION[_MAJOR].
find_path(OMBREL_HOST_NLOHMANN_JSON nlohmann/json.hpp
  PATHS /usr/include /usr/local/include /opt/homebrew/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT OMBREL_HOST_NLOHMANN_JSON)
  set(OMBREL_HOST_NLOHMANN_JSON_VERSION 0)
  set(OMBREL_HOST_NLOHMANN_JSON_VERSION_MAJOR 0)
  return()
endif()
# The single-header edition defines the version in json.hpp, the split one in abi_macros.hpp.
set(version_lines)
foreach(header json.hpp detail/abi_macros.hpp)
  if(EXISTS ${OMBREL_HOST_NLOHMANN_JSON}/nlohmann/${header} AND NOT version_lines)
    file(STRINGS ${OMBREL_HOST_NLOHMANN_JSON}/nlohmann/${header} version_lines
      REGEX "^#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) ")
  endif()
endforeach()
set(parts)
foreach(line IN LISTS version_lines)
  string(REGEX MATCH "[0-9]+" number "${line}")
  list(APPEND parts ${number})
endforeach()
list(JOIN parts "." OMBREL_HOST_NLOHMANN_JSON_VERSION)
list(GET parts 0 OMBREL_HOST_NLOHMANN_JSON_VERSION_MAJOR)
