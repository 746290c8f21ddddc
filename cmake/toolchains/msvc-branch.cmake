# The core's branch for Microsoft's x64 compiler (the _umul128 / _udiv128
# intrinsics), compiled without that compiler: Clang targeting
# x86_64-w64-windows-gnu with the macros an MSVC x64 build sees (_MSC_VER,
# _M_X64, no __int128, no __clang__), MinGW-w64's headers (its intrin.h has
# _umul128) and libstdc++, and _udiv128 from msvc-udiv128.h; linked by
# MinGW-w64's g++, run under wine:
#   cmake --toolchain cmake/toolchains/msvc-branch.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_AR /usr/bin/x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB /usr/bin/x86_64-w64-mingw32-ranlib)
set(_mingw_cxx /usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++)
string(JOIN " " CMAKE_CXX_FLAGS_INIT
       --target=x86_64-w64-windows-gnu -nostdinc++
       -isystem ${_mingw_cxx} -isystem ${_mingw_cxx}/x86_64-w64-mingw32 -isystem ${_mingw_cxx}/backward
       -isystem /usr/x86_64-w64-mingw32/include)
# The macros go with the Release flags, after CMake has identified the compiler as Clang.
string(JOIN " " CMAKE_CXX_FLAGS_RELEASE_INIT -O3 -DNDEBUG
       -fms-extensions -U__SIZEOF_INT128__ -D_INT128_DEFINED -U__clang__ -D_MSC_VER=1929 -D_M_X64=100
       -include ${CMAKE_CURRENT_LIST_DIR}/msvc-udiv128.h)
# linked by MinGW-w64's g++ (its libstdc++ and winpthreads), a rule CMake reads after its own
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/msvc-branch-link.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
