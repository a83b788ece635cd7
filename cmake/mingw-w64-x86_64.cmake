# Cross toolchain: 64-bit Windows programs from Debian's MinGW-w64 (posix threads), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVO_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER ${KVO_TRIPLET}-gcc-posix)
find_program(CMAKE_CXX_COMPILER ${KVO_TRIPLET}-g++-posix)
find_program(CMAKE_RC_COMPILER ${KVO_TRIPLET}-windres)
if(NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "MinGW-w64 posix compilers or windres not found: apt-get install g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64")
endif()

find_program(KVO_WINE wine)
if(NOT KVO_WINE)
  message(FATAL_ERROR "wine not found: apt-get install wine wine64")
endif()
# The wrapper runs every test program in the build tree's private Wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

set(CMAKE_FIND_ROOT_PATH /usr/${KVO_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
