# Cross-compiles for Windows with Debian's MinGW-w64 (win32 thread model). Included by the
# toolchain file of each architecture after it set KVO_MINGW_ARCH (i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KVO_MINGW_ARCH})

set(KVO_MINGW_PREFIX ${KVO_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${KVO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KVO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER  ${KVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every test program runs through Wine with the project's private prefix; tools/wine-run.sh picks
# the Wine of this architecture (the tests pass KVO_WINDOWS_ARCH to it).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
