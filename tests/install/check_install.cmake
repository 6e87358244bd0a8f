# Installs the build into PREFIX and checks what a user gets: every program and the `ombrel`
# link listed in the manifest (uninstalling removes what it lists), the link pointing at its
# neighbour, the programs stripped, ombrel-setup beside them (it wires the hook beside it).
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
set(names ombrel-hook ombrel-run ombrel)
if(BUILT_SETUP)
  list(APPEND names ombrel-setup)
endif()
foreach(name ${names})
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

# The build tree's links (ombrel-hook beside ombrel-setup, ombrel-setup beside the launcher)
# are not installed: each program is installed once, as itself.
foreach(name ${names})
  if(NOT name STREQUAL "ombrel" AND IS_SYMLINK ${bin}/${name})
    message(FATAL_ERROR "${bin}/${name} is installed as a link, not as the program")
  endif()
endforeach()

set(built_programs ${BUILT_HOOK} ${BUILT_RUN} ${BUILT_SETUP})
foreach(built ${built_programs})
  get_filename_component(name ${built} NAME)
  file(SIZE ${built} built_size)
  file(SIZE ${bin}/${name} installed_size)
  if(NOT installed_size LESS built_size)
    message(FATAL_ERROR "${name} is installed unstripped (${installed_size} bytes, built ${built_size})")
  endif()
endforeach()
