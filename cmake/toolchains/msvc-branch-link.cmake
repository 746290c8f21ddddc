# The link rule of msvc-branch.cmake: MinGW-w64's g++ links what Clang compiled, statically.
set(CMAKE_CXX_LINK_EXECUTABLE
    "/usr/bin/x86_64-w64-mingw32-g++-posix -static <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
