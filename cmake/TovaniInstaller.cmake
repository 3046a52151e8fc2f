# The Windows installer and code signing.
#   cmake --build --preset windows --target installer   -> build/windows/Tovani-<version>-setup.exe
# Signing takes a PKCS#12 file and a file holding its password, both from
# outside the tree, and optionally a timestamp server:
#   cmake --preset windows -DTOVANI_SIGN_PKCS12=/path/cert.p12 -DTOVANI_SIGN_PASSWORD_FILE=/path/pass
#         [-DTOVANI_SIGN_TIMESTAMP_URL=http://timestamp.example]
set(TOVANI_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing certificate and key (PKCS#12), kept outside the tree")
set(TOVANI_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 password")
set(TOVANI_SIGN_TIMESTAMP_URL "" CACHE STRING "Authenticode timestamp server (optional)")

set(sign_env)
if(TOVANI_SIGN_PKCS12)
  if(NOT TOVANI_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "TOVANI_SIGN_PKCS12 needs TOVANI_SIGN_PASSWORD_FILE")
  endif()
  set(sign_env "TOVANI_SIGN_PKCS12=${TOVANI_SIGN_PKCS12}" "TOVANI_SIGN_PASSWORD_FILE=${TOVANI_SIGN_PASSWORD_FILE}"
               "TOVANI_SIGN_TIMESTAMP_URL=${TOVANI_SIGN_TIMESTAMP_URL}")
  message(STATUS "Code signing: tovani.exe, the uninstaller and the installer with ${TOVANI_SIGN_PKCS12}")
  add_custom_command(TARGET tovani POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E env ${sign_env} ${CMAKE_SOURCE_DIR}/scripts/sign-file $<TARGET_FILE:tovani>
      COMMENT "Signing tovani.exe" VERBATIM)
else()
  message(STATUS "Code signing: off (no TOVANI_SIGN_PKCS12): tovani.exe and the installer stay unsigned")
endif()

set(TOVANI_INSTALLER ${CMAKE_BINARY_DIR}/Tovani-${PROJECT_VERSION}-setup.exe)
add_custom_command(OUTPUT ${TOVANI_INSTALLER}
    COMMAND ${CMAKE_COMMAND} -E env ${sign_env} ${CMAKE_SOURCE_DIR}/scripts/make-installer
            $<TARGET_FILE:tovani> ${TOVANI_INSTALLER} ${PROJECT_VERSION}
    DEPENDS tovani ${CMAKE_SOURCE_DIR}/packaging/windows/tovani.nsi ${CMAKE_SOURCE_DIR}/scripts/make-installer
            ${CMAKE_SOURCE_DIR}/scripts/sign-file
    COMMENT "Building the installer" VERBATIM)
add_custom_target(installer DEPENDS ${TOVANI_INSTALLER})
