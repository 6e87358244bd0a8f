# Cross-compiles for macOS with zig, which brings the macOS SDK's headers and link stubs and
# builds libc++ for the target itself. Nothing built this way runs here: the build proves that
# the code compiles and links for a Mac. Presets macos-arm64 and macos-x64 use this file.
#   OMBREL_MACOS_ARCH   aarch64 or x86_64
#   OMBREL_ZIG          the zig program (scripts/zig fetches one); else zig on PATH
set(CMAKE_SYSTEM_NAME Darwin)
if(NOT OMBREL_MACOS_ARCH MATCHES "^(aarch64|x86_64)$")
  message(FATAL_ERROR "OMBREL_MACOS_ARCH must be aarch64 or x86_64, not '${OMBREL_MACOS_ARCH}'")
endif()
if(OMBREL_MACOS_ARCH STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()

if(NOT OMBREL_ZIG)
  find_program(OMBREL_ZIG zig)
  if(NOT OMBREL_ZIG)
    message(FATAL_ERROR "zig not found: run scripts/zig and pass -DOMBREL_ZIG=<its output>")
  endif()
endif()
# try_compile projects read this file again: they need the same two settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OMBREL_MACOS_ARCH OMBREL_ZIG)

set(target ${OMBREL_MACOS_ARCH}-macos)
set(CMAKE_C_COMPILER "${OMBREL_ZIG}" cc)
set(CMAKE_CXX_COMPILER "${OMBREL_ZIG}" c++)
set(CMAKE_C_COMPILER_TARGET ${target})
set(CMAKE_CXX_COMPILER_TARGET ${target})
# Archives need a Mach-O symbol table, which zig's ar writes for Mach-O objects.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "\"${OMBREL_ZIG}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "\"${OMBREL_ZIG}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "\"${OMBREL_ZIG}\" ranlib <TARGET>")
endforeach()

# Never the host's headers or libraries: /usr/include is glibc's. Every search for them looks
# below zig's macOS libc instead, where there are none; header-only libraries the programs need
# come through cmake/zig-macos/, which exposes only their own include folders.
get_filename_component(zig_dir "${OMBREL_ZIG}" DIRECTORY)
set(CMAKE_FIND_ROOT_PATH "${zig_dir}/lib/libc/darwin")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/zig-macos)
set(tomlplusplus_DIR ${CMAKE_CURRENT_LIST_DIR}/zig-macos)
# Corrections to CMake's rules for Apple's clang, which zig is taken for.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos/rules.cmake)
