# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain (the POSIX-threads
# variant, which std::thread needs). The programs are linked statically against libgcc,
# libstdc++ and winpthread, so they run under wine, or on Windows, without DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# GCC does not keep the stack 32-byte aligned on 64-bit Windows, so AVX values it spills
# there may be misaligned; the assembler turns its aligned moves into unaligned ones.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# ctest runs the test programs under wine.
find_program(VANTORY_WINE NAMES wine wine64)
if(VANTORY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTORY_WINE})
endif()
