# The version of the host's toml++ headers, read from the headers themselves; a newer
# minor release satisfies an older request of the same major one.
include(${CMAKE_CURRENT_LIST_DIR}/tomlplusplus_headers.cmake)
set(PACKAGE_VERSION ${OMBREL_HOST_TOMLPLUSPLUS_VERSION})
if(PACKAGE_FIND_VERSION_MAJOR STREQUAL OMBREL_HOST_TOMLPLUSPLUS_VERSION_MAJOR
   AND NOT PACKAGE_VERSION VERSION_LESS PACKAGE_FIND_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
  if(PACKAGE_VERSION VERSION_EQUAL PACKAGE_FIND_VERSION)
    set(PACKAGE_VERSION_EXACT TRUE)
  endif()
else()
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
endif()
