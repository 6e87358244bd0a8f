# Finds the host's toml++ headers (Debian's libtomlplusplus-dev, Homebrew's tomlplusplus) and
# their version. Sets OMBREL_HOST_TOMLPLUSPLUS (the folder holding toml++/) and
# OMBREL_HOST_TOMLPLUSPLUS_VERSION[_MAJOR].
find_path(OMBREL_HOST_TOMLPLUSPLUS toml++/toml.h
  PATHS /usr/include /usr/local/include /opt/homebrew/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(OMBREL_HOST_TOMLPLUSPLUS_VERSION 0)
set(OMBREL_HOST_TOMLPLUSPLUS_VERSION_MAJOR 0)
if(NOT OMBREL_HOST_TOMLPLUSPLUS OR NOT EXISTS ${OMBREL_HOST_TOMLPLUSPLUS}/toml++/impl/version.h)
  return()
endif()
file(STRINGS ${OMBREL_HOST_TOMLPLUSPLUS}/toml++/impl/version.h version_lines
  REGEX "^#define TOML_LIB_(MAJOR|MINOR|PATCH) ")
set(parts)
foreach(line IN LISTS version_lines)
  string(REGEX MATCH "[0-9]+" number "${line}")
  list(APPEND parts ${number})
endforeach()
list(JOIN parts "." OMBREL_HOST_TOMLPLUSPLUS_VERSION)
list(GET parts 0 OMBREL_HOST_TOMLPLUSPLUS_VERSION_MAJOR)
