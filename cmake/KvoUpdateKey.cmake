# The update key built into a launcher: the base64 text of a 64-byte ECDSA P-256 public key
# (X and Y, 32 bytes each, big-endian). Also runs as a script for its own tests:
#   cmake -DKVO_CHECK_KEY=<text> [-DKVO_CHECK_ALLOW_UNSIGNED=ON|OFF] -P cmake/KvoUpdateKey.cmake

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

# kvo_require_update_key(<text> <allow unsigned>): a launcher that operators ship trusts a key;
# building one without is an explicit choice, and still warned about.
function(kvo_require_update_key text allow_unsigned)
  if(NOT text STREQUAL "")
    return()
  endif()
  if(NOT allow_unsigned)
    message(FATAL_ERROR "KVO_UPDATE_PUBLIC_KEY is not set. A launcher without an update key installs whatever "
                        "an update host (or anyone who answers in its name) serves, and runs it as administrator. "
                        "Make a key with 'KvoPublish --new-key NAME' and configure with "
                        "-DKVO_UPDATE_PUBLIC_KEY=<contents of NAME.public>; to build such a launcher all the same, "
                        "configure with -DKVO_ALLOW_UNSIGNED_UPDATES=ON.")
  endif()
  message(WARNING "KVO_UPDATE_PUBLIC_KEY is not set (KVO_ALLOW_UNSIGNED_UPDATES=ON): this launcher will install "
                  "whatever an update host serves, UPDATES ARE NOT AUTHENTICATED. Make a key with "
                  "'KvoPublish --new-key NAME' and configure with -DKVO_UPDATE_PUBLIC_KEY=<contents of NAME.public>.")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KVO_CHECK_KEY)
  kvo_check_update_key("${KVO_CHECK_KEY}" "KVO_UPDATE_PUBLIC_KEY")
  if(DEFINED KVO_CHECK_ALLOW_UNSIGNED)
    kvo_require_update_key("${KVO_CHECK_KEY}" "${KVO_CHECK_ALLOW_UNSIGNED}")
  endif()
endif()
