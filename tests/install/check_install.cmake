# Installs the build into PREFIX and checks what a user gets: every program and the `ombrel`
# link listed in the manifest (uninstalling removes what it lists), the link pointing at its
# neighbour, the programs stripped.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                        --component Unspecified
                OUTPUT_QUIET RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

file(STRINGS ${BUILD_DIR}/install_manifest_Unspecified.txt listed)
set(bin ${PREFIX}/${BINDIR})
foreach(name ombrel-hook ombrel-run ombrel)
  if(NOT "${bin}/${name}" IN_LIST listed)
    message(FATAL_ERROR "${name} is not in the install manifest: ${listed}")
  endif()
endforeach()

if(NOT IS_SYMLINK ${bin}/ombrel)
  message(FATAL_ERROR "${bin}/ombrel is not a symbolic link")
endif()
file(READ_SYMLINK ${bin}/ombrel target)
if(NOT target STREQUAL "ombrel-run")
  message(FATAL_ERROR "${bin}/ombrel points at '${target}', not at ombrel-run beside it")
endif()

foreach(pair "${BUILT_HOOK};ombrel-hook" "${BUILT_RUN};ombrel-run")
  list(GET pair 0 built)
  list(GET pair 1 name)
  file(SIZE ${built} built_size)
  file(SIZE ${bin}/${name} installed_size)
  if(NOT installed_size LESS built_size)
    message(FATAL_ERROR "${name} is installed unstripped (${installed_size} bytes, built ${built_size})")
  endif()
endforeach()
