# The update engine knows no window: nothing in update/ includes the application, the skin or the
# resources. Run as: cmake -DSOURCE_DIR=<project> -P EngineIncludes.cmake
file(GLOB engine_files ${SOURCE_DIR}/update/*.h ${SOURCE_DIR}/update/*.cpp)
set(found)
foreach(file IN LISTS engine_files)
  file(STRINGS ${file} includes REGEX "^#include \"(app|skin|resources)/")
  foreach(line IN LISTS includes)
    list(APPEND found "${file}: ${line}")
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n" text)
  message(FATAL_ERROR "the engine includes the window's code:\n${text}")
endif()
