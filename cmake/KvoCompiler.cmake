# Compiler settings shared by every target of the project.

function(kvo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(WIN32)
    # The program's narrow texts are GBK; the sources stay UTF-8.
    target_compile_options(${target} PRIVATE -fexec-charset=GBK)
    target_compile_definitions(${target} PUBLIC
      _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600 NOMINMAX STRICT)
  endif()
endfunction()

# Link zlib statically on Windows so the program needs only system DLLs.
function(kvo_link_zlib target)
  if(WIN32)
    find_library(KVO_ZLIB_STATIC NAMES libz.a REQUIRED)
    find_path(KVO_ZLIB_INCLUDE zlib.h REQUIRED)
    target_include_directories(${target} PUBLIC ${KVO_ZLIB_INCLUDE})
    target_link_libraries(${target} PUBLIC ${KVO_ZLIB_STATIC})
  else()
    find_package(ZLIB REQUIRED)
    target_link_libraries(${target} PUBLIC ZLIB::ZLIB)
  endif()
endfunction()

if(WIN32)
  # libgcc and libstdc++ go into every executable; winpthread is not used (win32 thread model).
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
endif()

if(KVO_NATIVE)
  set(KVO_SANITIZE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${KVO_SANITIZE_FLAGS})
  add_link_options(${KVO_SANITIZE_FLAGS})
endif()
