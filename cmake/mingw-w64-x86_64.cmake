# SPDX-License-Identifier: MIT
# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
# the posix thread model, which std::thread needs. Programs run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program static, so that it runs on a Windows without the MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the Windows programs through Wine.
find_program(ASE2SGL_WINE NAMES wine wine64)
if(ASE2SGL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ASE2SGL_WINE})
endif()

# GCC 12 at -O3 warns of overlapping copies inside std::string that cannot happen
# (GCC bug 105329); with warnings as errors that would stop the build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
