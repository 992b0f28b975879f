# Cross-compiling for 32-bit Windows with the mingw-w64 i686 toolchain.
#
# The product is a PE32 i386 executable; the "win32" thread-model compilers
# are chosen where they exist because they need no winpthread runtime, which
# keeps the static link free of anything Windows does not ship.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_DOZEWARD_TRIPLE i686-w64-mingw32)
find_program(_DOZEWARD_CXX NAMES ${_DOZEWARD_TRIPLE}-g++-win32 ${_DOZEWARD_TRIPLE}-g++ REQUIRED)
find_program(_DOZEWARD_CC NAMES ${_DOZEWARD_TRIPLE}-gcc-win32 ${_DOZEWARD_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${_DOZEWARD_CXX})
set(CMAKE_C_COMPILER ${_DOZEWARD_CC})
set(CMAKE_RC_COMPILER ${_DOZEWARD_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_DOZEWARD_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run on the Linux host through Wine under a
# virtual display; CTest prefixes each test command with this.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
