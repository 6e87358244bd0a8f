# Compiler flags shared by every target of the project.
add_library(ombrel_warnings INTERFACE)
target_compile_options(ombrel_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(OMBREL_WERROR)
  target_compile_options(ombrel_warnings INTERFACE -Werror)
endif()

if(OMBREL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
