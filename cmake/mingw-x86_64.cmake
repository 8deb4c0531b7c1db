# The 64-bit Windows build of the same source, for machines that run no 32-bit code (tests only).
set(KVO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
