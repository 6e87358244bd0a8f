# Read after CMake's rules for Apple's clang. Their verbose flag for finding the compiler's
# implicit settings passes -v to the linker too, which zig's own Mach-O linker refuses.
set(CMAKE_C_VERBOSE_FLAG "-v")
set(CMAKE_CXX_VERBOSE_FLAG "-v")
# These builds prove that the code compiles and links for a Mac; nothing debugs or runs them
# here. Without the optimiser and debug information they take half the time, and Debug keeps
# the code behind assert() in view.
set(CMAKE_C_FLAGS_DEBUG_INIT "-O0")
set(CMAKE_CXX_FLAGS_DEBUG_INIT "-O0")
