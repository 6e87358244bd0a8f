# `ombrel doctor`'s checks, a library of their own so that the unit tests link exactly what
# the program runs. Setup's core brings the agent registry and the reading of what is wired; the
# launcher's core the bounded child processes, the tmux lookup and the bounded TCP connect.
if(NOT TARGET tomlplusplus::tomlplusplus)
  find_package(tomlplusplus 3 REQUIRED)
endif()

set(doctor_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(ombrel_doctor_core STATIC
  ${doctor_dir}/doctor_check.cpp ${doctor_dir}/doctor_server.cpp
  ${doctor_dir}/doctor_programs.cpp ${doctor_dir}/doctor_log.cpp ${doctor_dir}/doctor_sha256.cpp
  ${doctor_dir}/doctor_codex_trust.cpp ${doctor_dir}/doctor_agents.cpp
  ${doctor_dir}/doctor.cpp ${doctor_dir}/doctor_run.cpp)
target_include_directories(ombrel_doctor_core PUBLIC ${doctor_dir})
target_link_libraries(ombrel_doctor_core
  PUBLIC ombrel_setup_core ombrel_launcher_core ombrel_common nlohmann_json::nlohmann_json
  PRIVATE tomlplusplus::tomlplusplus ombrel_warnings)
target_link_libraries(ombrel-setup PRIVATE ombrel_doctor_core)
