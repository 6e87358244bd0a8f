# Compiler flags shared by every target of the project.
add_library(ombrel_warnings INTERFACE)
target_compile_options(ombrel_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports -Wrestrict on ordinary std::string concatenation when optimising
  # (a known false positive of that release, GCC bug 105329).
  target_compile_options(ombrel_warnings INTERFACE -Wno-restrict)
endif()
if(OMBREL_WERROR)
  target_compile_options(ombrel_warnings INTERFACE -Werror)
endif()

if(OMBREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
