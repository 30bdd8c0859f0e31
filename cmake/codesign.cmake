# Authenticode: every program and library we ship is signed with osslsigncode (Debian package), after it
# is stripped, so the setup, the uninstaller, the launcher, the client, the control library and the
# setup's helpers name their publisher, and the elevated install step can tell our files from others
# (launcher/services/authenticode.h).
#
#   VANTORIX_CODESIGN_CERT=<PEM>   the maker's code-signing certificate (with its chain, leaf first), or
#                                  "none" for an explicitly unsigned build
#   VANTORIX_CODESIGN_KEY=<PEM>    its private key (unencrypted PEM; see the README, "Keys and builds")
#   VANTORIX_CODESIGN_THROWAWAY    the certificate is the throw-away one tools/build.sh made for the tests:
#                                  only a build with throw-away update keys may use it
#   VANTORIX_CODESIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service (optional; a release should use one,
#                                  so its signatures stay valid after the certificate expires)
# Without a certificate the configuration fails: no release goes out unsigned by accident.
set(VANTORIX_CODESIGN_CERT "" CACHE STRING "PEM code-signing certificate (chain, leaf first), or none; required")
set(VANTORIX_CODESIGN_KEY "" CACHE FILEPATH "PEM private key of the code-signing certificate")
option(VANTORIX_CODESIGN_THROWAWAY "the code-signing certificate is a throw-away one made for tests" OFF)
set(VANTORIX_CODESIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service for the signatures (optional)")

# The throw-away certificate's subject says what it is; a release names the maker's.
set(VANTORIX_CODESIGN_THROWAWAY_MARK "THROW-AWAY TEST CODE SIGNING")

if(VANTORIX_CODESIGN_CERT STREQUAL "")
  message(FATAL_ERROR "VANTORIX_CODESIGN_CERT is not set: a release build needs the maker's code-signing certificate "
          "and key (-DVANTORIX_CODESIGN_CERT=<PEM> -DVANTORIX_CODESIGN_KEY=<PEM>), or -DVANTORIX_CODESIGN_CERT=none for "
          "an unsigned build. tools/build.sh makes a throw-away certificate for tests with VANTORIX_TEST_UPDATE_KEYS=1.")
endif()

set(VANTORIX_CODESIGN ON)
if(VANTORIX_CODESIGN_CERT STREQUAL "none")
  set(VANTORIX_CODESIGN OFF)
  message(WARNING "VANTORIX_CODESIGN_CERT=none: nothing is Authenticode-signed, and the elevated install step does not "
          "check the signatures of what it installs")
else()
  if(NOT VANTORIX_CODESIGN_KEY)
    message(FATAL_ERROR "VANTORIX_CODESIGN_KEY is not set: name the private key of VANTORIX_CODESIGN_CERT")
  endif()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found (Debian package osslsigncode): it signs what the build ships")
  endif()
  execute_process(COMMAND openssl x509 -in ${VANTORIX_CODESIGN_CERT} -noout -subject -fingerprint -sha256
                  OUTPUT_VARIABLE _subject RESULT_VARIABLE _rc ERROR_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "VANTORIX_CODESIGN_CERT is not a PEM certificate: ${VANTORIX_CODESIGN_CERT}")
  endif()
  execute_process(COMMAND openssl pkey -in ${VANTORIX_CODESIGN_KEY} -noout -passin pass:
                  RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "VANTORIX_CODESIGN_KEY is not an unencrypted PEM private key: ${VANTORIX_CODESIGN_KEY}")
  endif()
  string(FIND "${_subject}" "${VANTORIX_CODESIGN_THROWAWAY_MARK}" _mark)
  if(_mark GREATER -1 OR VANTORIX_CODESIGN_THROWAWAY)
    if(NOT VANTORIX_UPDATE_KEYS_THROWAWAY)
      message(FATAL_ERROR "${VANTORIX_CODESIGN_CERT} is the THROW-AWAY test code-signing certificate: a release build "
              "(without throw-away update keys) is signed with the maker's: set VANTORIX_CODESIGN_CERT and "
              "VANTORIX_CODESIGN_KEY")
    endif()
    set(VANTORIX_CODESIGN_THROWAWAY ON CACHE BOOL "" FORCE)
    message(WARNING "signed with a THROW-AWAY test code-signing certificate: a test build, not for release")
  endif()
  string(STRIP "${_subject}" _subject)
  message(STATUS "code signing: ${_subject}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VANTORIX_CODESIGN_CERT})
endif()

# The command that writes a signed copy of <in> to <out> (a plain copy in an unsigned build).
function(vantorix_sign_command out_var in out)
  if(VANTORIX_CODESIGN)
    set(_ts "")
    if(VANTORIX_CODESIGN_TIMESTAMP_URL)
      set(_ts -ts ${VANTORIX_CODESIGN_TIMESTAMP_URL})
    endif()
    set(${out_var} COMMAND ${CMAKE_COMMAND} -E remove -f ${out}
        COMMAND ${OSSLSIGNCODE} sign -certs ${VANTORIX_CODESIGN_CERT} -key ${VANTORIX_CODESIGN_KEY} -h sha256
                -n "TAVI助手Plus" ${_ts} -in ${in} -out ${out} PARENT_SCOPE)
  else()
    set(${out_var} COMMAND ${CMAKE_COMMAND} -E copy ${in} ${out} PARENT_SCOPE)
  endif()
endfunction()

# Signs a target's own output after it is linked (the setup's helpers, which travel unstripped).
function(vantorix_sign_target target)
  if(NOT VANTORIX_CODESIGN)
    return()
  endif()
  vantorix_sign_command(_sign $<TARGET_FILE:${target}>.unsigned $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.unsigned
    ${_sign}
    COMMAND ${CMAKE_COMMAND} -E remove -f $<TARGET_FILE:${target}>.unsigned
    VERBATIM)
endfunction()

# The command line makensis runs through !finalize and !uninstfinalize ("%1": the file it wrote).
if(VANTORIX_CODESIGN)
  set(VANTORIX_NSIS_SIGN "sh ${PROJECT_SOURCE_DIR}/cmake/sign-in-place.sh ${OSSLSIGNCODE} ${VANTORIX_CODESIGN_CERT} ${VANTORIX_CODESIGN_KEY} %1 ${VANTORIX_CODESIGN_TIMESTAMP_URL}")
else()
  set(VANTORIX_NSIS_SIGN "")
endif()
