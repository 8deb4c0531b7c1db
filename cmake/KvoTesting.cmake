# GoogleTest from Debian's source package, built with the project's own toolchain.
set(KVO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${KVO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_library(kvo_gtest_main STATIC ${CMAKE_CURRENT_LIST_DIR}/../tests/GTestMain.cpp)
kvo_target_defaults(kvo_gtest_main)
target_link_libraries(kvo_gtest_main PUBLIC GTest::gtest)

set(KVO_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# The launcher operators ship: always the 32-bit build. A 64-bit test build checks the one of the
# 32-bit build beside it (tools/test.sh builds it there).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(KVO_SHIPPED_LAUNCHER_DEFAULT ${CMAKE_BINARY_DIR}/app/KvoLauncher.exe)
else()
  set(KVO_SHIPPED_LAUNCHER_DEFAULT ${CMAKE_SOURCE_DIR}/build/mingw/app/KvoLauncher.exe)
endif()
set(KVO_SHIPPED_LAUNCHER ${KVO_SHIPPED_LAUNCHER_DEFAULT} CACHE FILEPATH
    "The 32-bit KvoLauncher.exe that the shipped-executable checks read")

# What every test sees: the Wine of this build's architecture and its private prefix, the trees.
set(KVO_TEST_ENVIRONMENT
  "KVO_WINEPREFIX=${KVO_WINE_PREFIX}" "KVO_WINDOWS_ARCH=${CMAKE_SYSTEM_PROCESSOR}"
  "KVO_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "KVO_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "KVO_SHIPPED_LAUNCHER=${KVO_SHIPPED_LAUNCHER}")

# The test build of the launcher talks to these loopback addresses (end-to-end scenarios start
# their servers there; the scenarios run one at a time, see tests/e2e).
set(KVO_TEST_PRIMARY_PORT 18481)
set(KVO_TEST_FALLBACK_PORT 18482)
set(KVO_TEST_SITE_URL "http://127.0.0.1:18489/site/")

# kvo_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>] [WITH_HTTP_SERVER])
# One test program; CTest runs it whole (through Wine when cross-compiling). WITH_HTTP_SERVER runs
# it while tools/test_http_server.py listens on loopback (port in KVO_TEST_HTTP_PORT).
function(kvo_add_gtest name)
  cmake_parse_arguments(ARG "WITH_HTTP_SERVER" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kvo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kvo_gtest_main)
  if(TARGET kvo_test_hosts)
    target_link_libraries(${name} PRIVATE kvo_test_hosts)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(ARG_WITH_HTTP_SERVER)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/with_http_server.py --
             ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> --gtest_brief=1)
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "${KVO_TEST_ENVIRONMENT}")
endfunction()

# kvo_add_script_test(<name> <script> [args...]): a Python end-to-end scenario.
function(kvo_add_script_test name script)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${script} ${ARGN})
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 600
    ENVIRONMENT "${KVO_TEST_ENVIRONMENT}")
endfunction()

if(WIN32)
  # The win32 thread model has no std::mutex: a customisation header supplies what GoogleTest needs.
  target_include_directories(gtest BEFORE PUBLIC ${CMAKE_CURRENT_LIST_DIR}/gtest-custom)
endif()
