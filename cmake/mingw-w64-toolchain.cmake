# The body shared by the two mingw-w64 toolchain files: each sets
# DOZEWARD_TRIPLE and CMAKE_SYSTEM_PROCESSOR, then includes this, so that the
# product's i686 build and its x86_64 test twin are configured alike and
# cannot drift apart.
#
# The "win32" thread-model compilers are chosen where they exist because they
# need no winpthread runtime, which keeps the static link free of anything
# Windows does not ship.
set(CMAKE_SYSTEM_NAME Windows)

find_program(_DOZEWARD_CXX NAMES ${DOZEWARD_TRIPLE}-g++-win32 ${DOZEWARD_TRIPLE}-g++ REQUIRED)
find_program(_DOZEWARD_CC NAMES ${DOZEWARD_TRIPLE}-gcc-win32 ${DOZEWARD_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${_DOZEWARD_CXX})
set(CMAKE_C_COMPILER ${_DOZEWARD_CC})
set(CMAKE_RC_COMPILER ${DOZEWARD_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DOZEWARD_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run on the Linux host through Wine under a
# virtual display; CTest prefixes each test command with this. Which Wine
# (32- or 64-bit) the script uses is told by WINEARCH in each test's
# environment (cmake/windows.cmake).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
