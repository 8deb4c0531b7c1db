# Delay-import libraries for the system DLLs that are not KnownDLLs on every supported Windows
# (Windows 7 SP1 to 11). The loader resolves a static import before the program's first line runs
# and searches the program's own folder first for a library that is not a KnownDLL; a delayed one
# is loaded at its first call, through framework/SystemLibraries.cpp, from the system directory.
#
# Each library is made from the toolchain's own import library: its __imp_ symbols become a .def
# file, and dlltool turns that into a delay-import library.
#
# GNU ld drops the code of an import-library member whose function is referenced only through its
# __imp_ pointer (as every call through a dllimport declaration is), and a delay-import member's
# code is the thunk that loads the library: its pointer would stay null. So each program that links
# one of the project's libraries asks the linker for the thunk of every delay-loaded function that
# library calls, by a response file of the library's own, written whenever it is built.
#
# Also runs as a script, for the two build steps:
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIB=... -DDLL=... -DDEF=... -DOUT=... -DKILL_AT=ON|OFF -P KvoDelayImports.cmake
#   cmake -DNM=... -DLIBRARY=... -DDEFS=<def;...> -DREFS=... -DKILL_AT=ON|OFF -P KvoDelayImports.cmake

set(KVO_DELAY_LOADED_DLLS bcrypt comctl32 gdiplus msimg32 wininet)

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)  # the project's policies in script mode too
endif()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED REFS)
  # The thunk names of the delay-loaded functions that LIBRARY calls, as linker options.
  set(exported)
  foreach(def IN LISTS DEFS)
    file(STRINGS ${def} lines REGEX "^  ")
    foreach(line IN LISTS lines)
      string(STRIP "${line}" name)
      list(APPEND exported "${name}")
    endforeach()
  endforeach()
  execute_process(COMMAND ${NM} --undefined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${LIBRARY} failed")
  endif()
  string(REGEX MATCHALL "U __imp_[^\r\n]+" used "${symbols}")
  list(REMOVE_DUPLICATES used)
  string(LENGTH "U __imp_" prefix)
  set(options)
  foreach(reference IN LISTS used)
    string(SUBSTRING "${reference}" ${prefix} -1 thunk)  # "_InitCommonControlsEx@4" on i686
    set(name "${thunk}")
    if(KILL_AT)
      string(SUBSTRING "${thunk}" 1 -1 name)  # as the .def names it
    endif()
    if(name IN_LIST exported)
      string(APPEND options "--undefined=${thunk}\n")
    endif()
  endforeach()
  file(WRITE ${REFS}.new "${options}")
  file(COPY_FILE ${REFS}.new ${REFS} ONLY_IF_DIFFERENT)
  return()
endif()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED OUT)
  execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${IMPORT_LIB} failed")
  endif()
  # "00000000 I __imp__InternetOpenA@20" (i686, where C names carry a leading "_") or
  # "0000000000000000 I __imp_InternetOpenA" (x86_64).
  string(REGEX MATCHALL "I __imp_[^\r\n]+" imports "${symbols}")
  set(def "LIBRARY ${DLL}\nEXPORTS\n")
  # One prefix cut by length: CMake's REGEX REPLACE would match "^" again after each cut.
  if(KILL_AT)
    string(LENGTH "I __imp__" prefix)
  else()
    string(LENGTH "I __imp_" prefix)
  endif()
  foreach(import IN LISTS imports)
    string(SUBSTRING "${import}" ${prefix} -1 name)
    string(APPEND def "  ${name}\n")
  endforeach()
  file(WRITE ${DEF} "${def}")
  set(kill_at_option)
  if(KILL_AT)
    set(kill_at_option --kill-at)
  endif()
  execute_process(COMMAND ${DLLTOOL} --input-def ${DEF} --dllname ${DLL} ${kill_at_option} --output-delaylib ${OUT}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${DLLTOOL} could not make ${OUT}")
  endif()
  return()
endif()

# kvo_add_delay_imports(<target> <library>...): an INTERFACE library that links the delay-import
# libraries of KVO_DELAY_LOADED_DLLS instead of their import libraries, and, for each <library> and
# the programs that link it, the thunks that <library> calls (see above).
function(kvo_add_delay_imports target)
  set(tools_prefix ${KVO_MINGW_PREFIX}-)
  find_program(KVO_NM ${tools_prefix}nm REQUIRED)
  find_program(KVO_DLLTOOL ${tools_prefix}dlltool REQUIRED)
  # stdcall names carry "@<bytes>" in 32-bit import libraries; the DLLs export them without.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(kill_at ON)
  else()
    set(kill_at OFF)
  endif()
  set(libraries)
  set(defs)
  foreach(dll IN LISTS KVO_DELAY_LOADED_DLLS)
    find_library(KVO_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED)
    set(out ${CMAKE_BINARY_DIR}/delay-imports/lib${dll}-delay.a)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DNM=${KVO_NM} -DDLLTOOL=${KVO_DLLTOOL} -DIMPORT_LIB=${KVO_IMPORT_LIB_${dll}}
              -DDLL=${dll}.dll -DDEF=${CMAKE_BINARY_DIR}/delay-imports/${dll}.def -DOUT=${out} -DKILL_AT=${kill_at}
              -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_FILE} ${KVO_IMPORT_LIB_${dll}}
      COMMENT "Delay-import library for ${dll}.dll"
      VERBATIM)
    list(APPEND libraries ${out})
    list(APPEND defs ${CMAKE_BINARY_DIR}/delay-imports/${dll}.def)
  endforeach()
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delay-imports)
  add_custom_target(${target}_files DEPENDS ${libraries})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_files)
  target_link_libraries(${target} INTERFACE ${libraries})
  foreach(library IN LISTS ARGN)
    set(refs ${CMAKE_BINARY_DIR}/delay-imports/${library}-thunks.rsp)
    target_link_options(${library} INTERFACE "LINKER:@${refs}")
    add_custom_command(TARGET ${library} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DNM=${KVO_NM} -DLIBRARY=$<TARGET_FILE:${library}> "-DDEFS=${defs}" -DREFS=${refs}
              -DKILL_AT=${kill_at} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      VERBATIM)
  endforeach()
endfunction()
