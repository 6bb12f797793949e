# Signs FILE in place with Authenticode, SHA-256, time-stamped when
# TIMESTAMP_URL is given:
#   cmake -DTOOL=<signtool|osslsigncode> -DPFX=... -DPASSWORD_FILE=... [-DTIMESTAMP_URL=...]
#         -DDESCRIPTION=... -DFILE=... -P sign_file.cmake
# The password is read only now, so that it is in no build file.
get_filename_component(tool_name ${TOOL} NAME_WE)
if(tool_name STREQUAL "signtool")
  file(STRINGS ${PASSWORD_FILE} password LIMIT_COUNT 1)
  set(stamp)
  if(TIMESTAMP_URL)
    set(stamp /tr ${TIMESTAMP_URL} /td sha256)
  endif()
  execute_process(COMMAND ${TOOL} sign /q /f ${PFX} /p ${password} /fd sha256 /d ${DESCRIPTION} ${stamp} ${FILE}
                  RESULT_VARIABLE failed)
else()
  set(stamp)
  if(TIMESTAMP_URL)
    set(stamp -ts ${TIMESTAMP_URL})
  endif()
  # It writes a new file; the old one goes only once that succeeded.
  file(REMOVE ${FILE}.signed)
  execute_process(COMMAND ${TOOL} sign -pkcs12 ${PFX} -readpass ${PASSWORD_FILE} -h sha256 -n ${DESCRIPTION}
                          ${stamp} -in ${FILE} -out ${FILE}.signed
                  RESULT_VARIABLE failed OUTPUT_QUIET)
  if(NOT failed)
    file(RENAME ${FILE}.signed ${FILE})
  endif()
endif()
if(failed)
  file(REMOVE ${FILE})  # so that the next build makes it again, not pass it unsigned
  message(FATAL_ERROR "Signing ${FILE} failed")
endif()
