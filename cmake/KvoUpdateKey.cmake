# The update key built into a launcher: the base64 text of a 64-byte ECDSA P-256 public key
# (X and Y, 32 bytes each, big-endian). Also runs as a script for its own test:
#   cmake -DKVO_CHECK_KEY=<text> -P cmake/KvoUpdateKey.cmake

# kvo_check_update_key(<text> <what>): stops configuring with a clear message unless <text> is
# empty or the base64 of exactly 64 bytes (86 characters of the alphabet and "==").
function(kvo_check_update_key text what)
  if(text STREQUAL "")
    return()
  endif()
  string(LENGTH "${text}" length)
  if(NOT text MATCHES "^[A-Za-z0-9+/]+=*$")
    message(FATAL_ERROR "${what} is not base64 text: '${text}'")
  endif()
  if(NOT text MATCHES "^[A-Za-z0-9+/][A-Za-z0-9+/]*[AQgw]==$" OR NOT length EQUAL 88)
    message(FATAL_ERROR "${what} must be the base64 of a 64-byte P-256 public key (X and Y, 32 bytes each; "
                        "88 characters ending in '=='), as 'KvoPublish --new-key NAME' writes to NAME.public; "
                        "this one has ${length} characters")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KVO_CHECK_KEY)
  kvo_check_update_key("${KVO_CHECK_KEY}" "KVO_UPDATE_PUBLIC_KEY")
endif()
