# Cross-compiling for 64-bit Windows with the mingw-w64 x86_64 toolchain: the
# test twin, a PE32+ build of the same sources for machines whose kernel
# cannot run 32-bit code, where only 64-bit Wine runs. It never ships.
set(DOZEWARD_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
