# The Debian package of the Linux player (cmake --build --preset linux --target package):
# the player and tovani-tool, a system desktop entry that handles the scheme,
# the icon in the hicolor theme, and the runtime dependencies.
include(GNUInstallDirs)

install(TARGETS tovani tovani-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Named through PATH: the entry stays right wherever the package puts the
# binary, and xdg-open's generic mode runs a bare first word.
set(TOVANI_DESKTOP_ENTRY "${CMAKE_BINARY_DIR}/packaging/tovani-corvantiluxen.desktop")
file(WRITE ${TOVANI_DESKTOP_ENTRY}
  "[Desktop Entry]\n"
  "Type=Application\n"
  "Name=Tovani\n"
  "GenericName=Kelbro Desktop Player\n"
  "Exec=tovani %u\n"
  "Icon=tovani\n"
  "Terminal=false\n"
  "NoDisplay=true\n"
  "MimeType=x-scheme-handler/corvantiluxen;\n")
install(FILES ${TOVANI_DESKTOP_ENTRY} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME tovani.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovani)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tovani")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop content player of the Tovani learning platform")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tovani developers <dev@tovani.test>")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not name: the browser's helper process, the X11 and
# CUPS plugins, the opener of links, and fonts for Arabic and the bar's icons.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6webenginecore6-bin, libqt6gui6, libqt6printsupport6, xdg-utils, desktop-file-utils, fonts-dejavu-core, fonts-symbola")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(TOVANI_BUILD_TESTS)
  # Installs into the system and removes again: a label of its own.
  add_test(NAME package.InstallOpenRemove
           COMMAND ${CMAKE_SOURCE_DIR}/tests/player_qt/with_xvfb.sh
                   ${CMAKE_SOURCE_DIR}/tests/package/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package.InstallOpenRemove PROPERTIES LABELS package TIMEOUT 600 SKIP_RETURN_CODE 77
                       RUN_SERIAL TRUE)
endif()
