# Cross-compiles tervalin.exe for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake \
#         -DTERVALIN_BUILD_TESTS=OFF -DTERVALIN_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TERVALIN_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix-threads variant: its libstdc++ has the whole thread library, which
# the win32 variant of GCC 12 lacks; -static below keeps winpthread inside the .exe.
set(CMAKE_C_COMPILER ${TERVALIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERVALIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TERVALIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TERVALIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Engineers start the program by a double click, on machines with no MinGW
# runtime: every GCC library goes into the executable, which then needs only
# DLLs that ship with Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

