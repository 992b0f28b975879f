# Cross-compiling for 32-bit Windows with the mingw-w64 i686 toolchain: the
# product, a PE32 i386 executable.
set(DOZEWARD_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
