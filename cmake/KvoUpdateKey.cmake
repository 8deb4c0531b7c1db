# The root keys built into a launcher: one to four base64 texts of 64-byte ECDSA P-256 public keys
# (X and Y, 32 bytes each, big-endian) and how many of them must sign a key list. One key with a
# threshold of 1 (KVO_UPDATE_PUBLIC_KEY) also signs manifests itself. Also runs as a script for its
# own tests:
#   cmake -DKVO_CHECK_KEY=<text> [-DKVO_CHECK_ALLOW_UNSIGNED=ON|OFF] -P cmake/KvoUpdateKey.cmake
#   cmake -DKVO_CHECK_ROOT_KEYS=<key;key…> -DKVO_CHECK_THRESHOLD=<n> -P cmake/KvoUpdateKey.cmake

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

# kvo_root_text(<variable> <update key> <root keys> <threshold>): the launcher's root text, as the
# launcher reads it: the key alone for one root with threshold 1 (what KVO_UPDATE_PUBLIC_KEY always
# built), "N,KEY,KEY,…" otherwise; "" for none. Stops configuring with a clear message for keys that
# are not keys, a key given twice, more than four, or a threshold that is not 1 to their number.
function(kvo_root_text variable key keys threshold)
  if(NOT key STREQUAL "" AND NOT keys STREQUAL "")
    message(FATAL_ERROR "KVO_UPDATE_PUBLIC_KEY and KVO_ROOT_KEYS are both set: give the roots once "
                        "(KVO_UPDATE_PUBLIC_KEY=<key> is KVO_ROOT_KEYS=<key> with KVO_ROOT_THRESHOLD=1)")
  endif()
  if(NOT key STREQUAL "")
    set(keys "${key}")
  endif()
  if(keys STREQUAL "")
    set(${variable} "" PARENT_SCOPE)
    return()
  endif()
  list(LENGTH keys count)
  if(count GREATER 4)
    message(FATAL_ERROR "KVO_ROOT_KEYS holds ${count} keys; a launcher trusts one to four root keys")
  endif()
  foreach(root IN LISTS keys)
    kvo_check_update_key("${root}" "a key of KVO_ROOT_KEYS")
  endforeach()
  list(REMOVE_DUPLICATES keys)
  list(LENGTH keys distinct)
  if(NOT distinct EQUAL count)
    message(FATAL_ERROR "KVO_ROOT_KEYS names a key twice: each root key counts once toward the threshold")
  endif()
  if(NOT threshold MATCHES "^[1-9]$" OR threshold GREATER count)
    message(FATAL_ERROR "KVO_ROOT_THRESHOLD must be a whole number from 1 to the number of root keys (${count}), "
                        "not '${threshold}'")
  endif()
  if(count EQUAL 1 AND threshold EQUAL 1)
    set(${variable} "${keys}" PARENT_SCOPE)
  else()
    list(JOIN keys "," joined)
    set(${variable} "${threshold},${joined}" PARENT_SCOPE)
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
                        "-DKVO_UPDATE_PUBLIC_KEY=<contents of NAME.public> (or, for offline root keys, "
                        "-DKVO_ROOT_KEYS=<key;key;key> -DKVO_ROOT_THRESHOLD=<n>); to build such a launcher all the same, "
                        "configure with -DKVO_ALLOW_UNSIGNED_UPDATES=ON.")
  endif()
  message(WARNING "KVO_UPDATE_PUBLIC_KEY is not set (KVO_ALLOW_UNSIGNED_UPDATES=ON): this launcher will install "
                  "whatever an update host serves, UPDATES ARE NOT AUTHENTICATED. Make a key with "
                  "'KvoPublish --new-key NAME' and configure with -DKVO_UPDATE_PUBLIC_KEY=<contents of NAME.public>.")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KVO_CHECK_ROOT_KEYS)
  kvo_root_text(text "" "${KVO_CHECK_ROOT_KEYS}" "${KVO_CHECK_THRESHOLD}")
  message(STATUS "root text: ${text}")
endif()
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KVO_CHECK_KEY)
  kvo_check_update_key("${KVO_CHECK_KEY}" "KVO_UPDATE_PUBLIC_KEY")
  if(DEFINED KVO_CHECK_ALLOW_UNSIGNED)
    kvo_require_update_key("${KVO_CHECK_KEY}" "${KVO_CHECK_ALLOW_UNSIGNED}")
  endif()
endif()
