# `ombrel doctor`'s checks, a library of their own so that the unit tests link exactly what
# the program runs. The launcher's core brings the bounded child processes, the tmux lookup
# and the bounded TCP connect, all libc.
if(NOT TARGET tomlplusplus::tomlplusplus)
  find_package(tomlplusplus 3 REQUIRED)
endif()

add_library(ombrel_doctor_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/doctor_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor_programs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor_sha256.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor_codex_trust.cpp
  ${CMAKE_CURRENT_LIST_DIR}/doctor.cpp)
target_include_directories(ombrel_doctor_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ombrel_doctor_core
  PUBLIC ombrel_common ombrel_launcher_core nlohmann_json::nlohmann_json
  PRIVATE tomlplusplus::tomlplusplus ombrel_warnings)
