# The archives that tools/make_zip_fixtures.py writes, made at build time into the build tree,
# and the compile definitions that tell the archive tests where they and the seed corpus are.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KVO_ZIP_FIXTURE_DIR ${CMAKE_BINARY_DIR}/zip-fixtures)
set(KVO_ZIP_CORPUS_DIR ${PROJECT_SOURCE_DIR}/tests/native/corpus)
set(KVO_ZIP_FIXTURE_SCRIPT ${PROJECT_SOURCE_DIR}/tools/make_zip_fixtures.py)
if(NOT TARGET zip_fixtures)
  add_custom_command(
    OUTPUT ${KVO_ZIP_FIXTURE_DIR}/package.zip
    COMMAND ${Python3_EXECUTABLE} ${KVO_ZIP_FIXTURE_SCRIPT} --out ${KVO_ZIP_FIXTURE_DIR}
    DEPENDS ${KVO_ZIP_FIXTURE_SCRIPT}
    COMMENT "Making the ZIP test archives")
  add_custom_target(zip_fixtures DEPENDS ${KVO_ZIP_FIXTURE_DIR}/package.zip)
endif()

# The tests of the parsers of downloaded bytes (archives, patches) that build and pass on both
# Windows (under Wine) and Linux (sanitizers).
set(KVO_ZIP_PORTABLE_TEST_SOURCES
  ${PROJECT_SOURCE_DIR}/tests/unit/patch/PatchRoundTripTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZipBuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZipTestSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZipReaderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathGuardTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReplaceFileTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CorpusReplayTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/native/ArchiveWalk.cpp)
if(KVO_NATIVE)
  list(APPEND KVO_ZIP_PORTABLE_TEST_SOURCES ${PROJECT_SOURCE_DIR}/tests/unit/TempDir.cpp)
endif()

function(kvo_zip_test_setup target)
  add_dependencies(${target} zip_fixtures)
  target_compile_definitions(${target} PRIVATE
    KVO_ZIP_FIXTURE_DIR="${KVO_ZIP_FIXTURE_DIR}" KVO_ZIP_CORPUS_DIR="${KVO_ZIP_CORPUS_DIR}"
    KVO_PATCH_CORPUS_DIR="${PROJECT_SOURCE_DIR}/tests/native/patch-corpus")
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/unit ${PROJECT_SOURCE_DIR}/tests/unit/zip
                             ${PROJECT_SOURCE_DIR}/tests/native)
endfunction()
