# Authenticode signatures (SHA-256) for the DLLs and the packages, made when
# a code-signing certificate is given: a PKCS#12 file and a file that holds
# its password, and optionally an RFC 3161 time-stamp authority. On Windows
# signtool signs where it is found, elsewhere osslsigncode (Debian's).

set(KT_SIGN_PFX "" CACHE FILEPATH "Code-signing certificate with its key (PKCS#12); the files are signed when given")
set(KT_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of KT_SIGN_PFX")
set(KT_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp authority for the signatures (none when empty)")
# The tests check the signatures against this root (their own authority's).
set(KT_SIGN_TEST_ROOT "" CACHE FILEPATH "Root certificate (PEM) that the tests verify the signatures against")

set(KT_SIGNING OFF)
if(KT_SIGN_PFX)
  if(NOT KT_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "KT_SIGN_PFX is given without KT_SIGN_PASSWORD_FILE, the file that holds its password")
  endif()
  if(CMAKE_HOST_WIN32)
    find_program(KT_SIGN_TOOL NAMES signtool osslsigncode)
  else()
    find_program(KT_SIGN_TOOL NAMES osslsigncode signtool)
  endif()
  if(NOT KT_SIGN_TOOL)
    message(FATAL_ERROR "KT_SIGN_PFX is given, but neither signtool nor osslsigncode is found")
  endif()
  set(KT_SIGNING ON)
endif()

# Changes when the signing does, so that the signed files are made again
# (a command's own text is not among its dependencies with every generator).
set(KT_SIGN_STAMP ${CMAKE_BINARY_DIR}/signing.stamp)
file(CONFIGURE OUTPUT ${KT_SIGN_STAMP} CONTENT "${KT_SIGNING} ${KT_SIGN_PFX} ${KT_SIGN_TIMESTAMP_URL}\n")
set(KT_SIGN_DEPENDS ${KT_SIGN_STAMP})
if(KT_SIGNING)
  list(APPEND KT_SIGN_DEPENDS ${KT_SIGN_PFX})
endif()

# kt_sign_commands(<variable> <file> <description>): in <variable>, the
# COMMAND lines that sign <file> in place; none when nothing is signed.
function(kt_sign_commands variable file description)
  set(commands)
  if(KT_SIGNING)
    set(commands COMMAND ${CMAKE_COMMAND} -DTOOL=${KT_SIGN_TOOL} -DPFX=${KT_SIGN_PFX}
                 -DPASSWORD_FILE=${KT_SIGN_PASSWORD_FILE} -DTIMESTAMP_URL=${KT_SIGN_TIMESTAMP_URL}
                 -DDESCRIPTION=${description} -DFILE=${file} -P ${CMAKE_SOURCE_DIR}/cmake/sign_file.cmake)
  endif()
  set(${variable} ${commands} PARENT_SCOPE)
endfunction()
