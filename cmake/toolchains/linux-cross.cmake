# A static Linux build for another processor with Debian's cross compiler,
# run under qemu-user: cmake -DRUST_CROSS_TRIPLE=aarch64-linux-gnu
# --toolchain cmake/toolchains/linux-cross.cmake. The triple's first field
# names the processor; RUST_CROSS_QEMU the emulator where its name differs
# (i686 runs under qemu-i386, arm under qemu-arm, powerpc64le under
# qemu-ppc64le).
set(RUST_CROSS_TRIPLE "" CACHE STRING "GNU triple of the cross compiler, e.g. aarch64-linux-gnu")
if(NOT RUST_CROSS_TRIPLE)
  message(FATAL_ERROR "linux-cross.cmake needs -DRUST_CROSS_TRIPLE=<triple>")
endif()
string(REGEX MATCH "^[^-]+" rust_cross_processor "${RUST_CROSS_TRIPLE}")
set(RUST_CROSS_QEMU "${rust_cross_processor}" CACHE STRING "qemu-user's name for the processor")
# The compiler checks (try_compile) read this file again: they see the triple too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RUST_CROSS_TRIPLE RUST_CROSS_QEMU)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${rust_cross_processor})
set(CMAKE_CXX_COMPILER ${RUST_CROSS_TRIPLE}-g++)
# -Wno-psabi: GCC's notes on ABI changes of passing vectors, not warnings
# about this code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${RUST_CROSS_QEMU})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH /usr/${RUST_CROSS_TRIPLE})
