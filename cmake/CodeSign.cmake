# Authenticode signing of the programs and the installer (osslsigncode).
#   VELBOX_CODESIGN_CERT           PKCS#12 file; empty: nothing is signed
#   VELBOX_CODESIGN_TIMESTAMP_URL  RFC 3161 time-stamp server, optional
# The certificate's password comes from the environment variable
# VELBOX_CODESIGN_PASSWORD at build time, never from the cache.
set(VELBOX_CODESIGN_CERT "" CACHE FILEPATH "PKCS#12 certificate the programs and the installer are signed with")
set(VELBOX_CODESIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamp server for the signatures (optional)")

set(VELBOX_SIGN_COMMAND)
if(VELBOX_CODESIGN_CERT)
  if(NOT EXISTS ${VELBOX_CODESIGN_CERT})
    message(FATAL_ERROR "VELBOX_CODESIGN_CERT: no such file ${VELBOX_CODESIGN_CERT}")
  endif()
  find_program(VELBOX_OSSLSIGNCODE osslsigncode)
  if(NOT VELBOX_OSSLSIGNCODE)
    message(FATAL_ERROR "VELBOX_CODESIGN_CERT is set but osslsigncode is missing (Debian package osslsigncode)")
  endif()
  set(VELBOX_SIGN_COMMAND ${CMAKE_SOURCE_DIR}/tools/codesign.sh ${VELBOX_CODESIGN_CERT})
  if(VELBOX_CODESIGN_TIMESTAMP_URL)
    message(STATUS "Code signing with ${VELBOX_CODESIGN_CERT}, time-stamped by ${VELBOX_CODESIGN_TIMESTAMP_URL}")
  else()
    message(STATUS "Code signing with ${VELBOX_CODESIGN_CERT}, without a time stamp")
  endif()
else()
  message(STATUS "Code signing off: the programs and the installer are not signed (set VELBOX_CODESIGN_CERT)")
endif()

# Signs the target's file after every link.
function(vel_codesign target)
  if(VELBOX_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${VELBOX_SIGN_COMMAND} $<TARGET_FILE:${target}> ${VELBOX_CODESIGN_TIMESTAMP_URL}
      COMMENT "Signing ${target}"
      VERBATIM)
  endif()
endfunction()
