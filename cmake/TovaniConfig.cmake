# Turns the chosen deployment profile into masked constants in a generated
# header: the binary never holds a profile value in the clear.
set(TOVANI_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(TOVANI_CONFIG_HEADER ${TOVANI_GENERATED_DIR}/tovani_config.h)
file(GLOB TOVANI_PROFILE_EXTRA CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/config/${TOVANI_PROFILE}/*)
add_custom_command(
  OUTPUT ${TOVANI_CONFIG_HEADER}
  COMMAND ${CMAKE_COMMAND} -DPROFILE=${TOVANI_PROFILE_FILE} -DOUT=${TOVANI_CONFIG_HEADER}
          -P ${CMAKE_SOURCE_DIR}/cmake/GenerateConfig.cmake
  DEPENDS ${TOVANI_PROFILE_FILE} ${TOVANI_PROFILE_EXTRA} ${CMAKE_SOURCE_DIR}/cmake/GenerateConfig.cmake
  COMMENT "Masking the ${TOVANI_PROFILE} profile")
add_custom_target(tovani_generated_config DEPENDS ${TOVANI_CONFIG_HEADER})
