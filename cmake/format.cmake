# The `check-format` and `format` targets: clang-format (the repository's .clang-format) over
# every C and C++ file git tracks. MODE check fails on any file it would change; fix rewrites.
#   cmake -DCLANG_FORMAT=... -DGIT=... -DMODE=check|fix -P cmake/format.cmake   (in the source tree)
execute_process(COMMAND ${GIT} ls-files -- *.c *.h *.cpp *.hpp
                OUTPUT_VARIABLE files RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "format: git ls-files failed; this needs a git checkout")
endif()
string(STRIP "${files}" files)
string(REPLACE "\n" ";" files "${files}")

if(MODE STREQUAL "fix")
  execute_process(COMMAND ${CLANG_FORMAT} -i ${files} RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files} RESULT_VARIABLE status)
endif()
if(status)
  execute_process(COMMAND ${CLANG_FORMAT} --version OUTPUT_VARIABLE version
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  message(FATAL_ERROR "format: the files above are not formatted (${version}; the layout is "
                      "clang-format 14's). `cmake --build <build dir> --target format` fixes them.")
endif()
