# The Debian packages of the Linux player (cmake --build --preset linux --target package):
# the learner's package (the player, a system desktop entry that handles the
# scheme, the icon in the hicolor theme, the runtime dependencies) and, apart,
# the operators' and support's tools package (tovani-tool, which seals links
# and fetches with the device's identity: nothing a learner's machine needs).
# Built from the development profile, both say so in their names and
# versions ("-dev", "~dev"): they trust the development service's test root.
include(GNUInstallDirs)

# The development profile under any name is still the development profile,
# and so is any profile holding its public envelope key or trusting its root.
set(TOVANI_PACKAGE_DEVELOPMENT OFF)
file(READ ${TOVANI_PROFILE_FILE} TOVANI_PROFILE_JSON)
file(READ ${CMAKE_SOURCE_DIR}/config/dev.json TOVANI_DEV_PROFILE_JSON)
string(JSON TOVANI_PROFILE_KEY ERROR_VARIABLE no_key GET "${TOVANI_PROFILE_JSON}" envelopeKeyHex)
string(JSON TOVANI_DEV_KEY ERROR_VARIABLE no_dev_key GET "${TOVANI_DEV_PROFILE_JSON}" envelopeKeyHex)
string(JSON TOVANI_PROFILE_ANCHORS ERROR_VARIABLE no_anchors GET "${TOVANI_PROFILE_JSON}" extraTrustAnchorsFile)
get_filename_component(TOVANI_PROFILE_DIR ${TOVANI_PROFILE_FILE} DIRECTORY)
set(TOVANI_PROFILE_ANCHORS_HASH "")
if(NOT no_anchors AND TOVANI_PROFILE_ANCHORS AND EXISTS "${TOVANI_PROFILE_DIR}/${TOVANI_PROFILE_ANCHORS}")
  file(SHA256 "${TOVANI_PROFILE_DIR}/${TOVANI_PROFILE_ANCHORS}" TOVANI_PROFILE_ANCHORS_HASH)
endif()
file(SHA256 ${CMAKE_SOURCE_DIR}/config/dev/root-ca.pem TOVANI_DEV_ROOT_HASH)
if(TOVANI_PROFILE STREQUAL "dev" OR TOVANI_PROFILE_JSON STREQUAL TOVANI_DEV_PROFILE_JSON
   OR (NOT no_key AND TOVANI_PROFILE_KEY STREQUAL TOVANI_DEV_KEY)
   OR TOVANI_PROFILE_ANCHORS_HASH STREQUAL TOVANI_DEV_ROOT_HASH)
  set(TOVANI_PACKAGE_DEVELOPMENT ON)
endif()
if(TOVANI_PACKAGE_DEVELOPMENT)
  set(TOVANI_PACKAGE_PLAYER tovani-dev)
  set(TOVANI_PACKAGE_TOOLS tovani-dev-tools)
  set(TOVANI_PACKAGE_VERSION "${PROJECT_VERSION}~dev")
  set(TOVANI_PACKAGE_OTHER_PLAYER tovani)
  set(TOVANI_PACKAGE_OTHER_TOOLS tovani-tools)
  set(TOVANI_PACKAGE_BUILD_NOTE " (development build)")
else()
  set(TOVANI_PACKAGE_PLAYER tovani)
  set(TOVANI_PACKAGE_TOOLS tovani-tools)
  set(TOVANI_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(TOVANI_PACKAGE_OTHER_PLAYER tovani-dev)
  set(TOVANI_PACKAGE_OTHER_TOOLS tovani-dev-tools)
  set(TOVANI_PACKAGE_BUILD_NOTE "")
endif()

install(TARGETS tovani RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT player)
install(TARGETS tovani-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# Named through PATH: the entries stay right wherever the package puts the
# binary, and xdg-open's generic mode runs a bare first word. The scheme's
# handler stays out of the menu; the menu's own entry opens the start page.
set(TOVANI_DESKTOP_ENTRY "${CMAKE_BINARY_DIR}/packaging/tovani-corvantiluxen.desktop")
file(WRITE ${TOVANI_DESKTOP_ENTRY}
  "[Desktop Entry]\n"
  "Type=Application\n"
  "Name=Tovani\n"
  "GenericName=Kelbro Desktop Player\n"
  "Comment=Opens the Tovani platform's content links\n"
  "Exec=tovani %u\n"
  "Icon=tovani\n"
  "Terminal=false\n"
  "NoDisplay=true\n"
  "StartupWMClass=tovani\n"
  "MimeType=x-scheme-handler/corvantiluxen;\n")
set(TOVANI_MENU_ENTRY "${CMAKE_BINARY_DIR}/packaging/tovani.desktop")
file(WRITE ${TOVANI_MENU_ENTRY}
  "[Desktop Entry]\n"
  "Type=Application\n"
  "Name=Tovani\n"
  "GenericName=Learning Content Player\n"
  "Comment=The Tovani learning platform's start page and contents\n"
  "Exec=tovani\n"
  "Icon=tovani\n"
  "Terminal=false\n"
  "Categories=Education;\n"
  "Keywords=learning;course;video;platform;\n"
  "StartupWMClass=tovani\n")
install(FILES ${TOVANI_DESKTOP_ENTRY} ${TOVANI_MENU_ENTRY} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT player)

# Documentation as Debian wants it: copyright, the changelog (its entry under
# each package's own name and version) and the manual pages, compressed
# without time stamps so the packages build the same twice.
set(TOVANI_DOC_STAGE "${CMAKE_BINARY_DIR}/packaging/doc")
file(MAKE_DIRECTORY ${TOVANI_DOC_STAGE})
file(READ ${CMAKE_SOURCE_DIR}/packaging/debian/changelog TOVANI_CHANGELOG)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
foreach(package ${TOVANI_PACKAGE_PLAYER} ${TOVANI_PACKAGE_TOOLS})
  string(REGEX REPLACE "^tovani \\([^)]*\\)" "${package} (${TOVANI_PACKAGE_VERSION})" entry "${TOVANI_CHANGELOG}")
  file(WRITE ${TOVANI_DOC_STAGE}/${package}/changelog "${entry}")
  add_custom_command(OUTPUT ${TOVANI_DOC_STAGE}/${package}/changelog.gz
    COMMAND gzip -9nc ${TOVANI_DOC_STAGE}/${package}/changelog > ${TOVANI_DOC_STAGE}/${package}/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
  list(APPEND TOVANI_DOC_FILES ${TOVANI_DOC_STAGE}/${package}/changelog.gz)
endforeach()
foreach(doc tovani.1 tovani-tool.1)
  add_custom_command(OUTPUT ${TOVANI_DOC_STAGE}/${doc}.gz
    COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/debian/${doc} > ${TOVANI_DOC_STAGE}/${doc}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/${doc} VERBATIM)
  list(APPEND TOVANI_DOC_FILES ${TOVANI_DOC_STAGE}/${doc}.gz)
endforeach()
add_custom_target(tovani_package_docs ALL DEPENDS ${TOVANI_DOC_FILES})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${TOVANI_DOC_STAGE}/${TOVANI_PACKAGE_PLAYER}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TOVANI_PACKAGE_PLAYER} COMPONENT player)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${TOVANI_DOC_STAGE}/${TOVANI_PACKAGE_TOOLS}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TOVANI_PACKAGE_TOOLS} COMPONENT tools)
install(FILES ${TOVANI_DOC_STAGE}/tovani.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT player)
install(FILES ${TOVANI_DOC_STAGE}/tovani-tool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps RENAME tovani.png COMPONENT player)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL player tools)
set(CPACK_PACKAGE_NAME tovani)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${TOVANI_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Tovani")
# Shipped stripped; the build tree keeps the symbols.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tovani developers <dev@tovani.test>")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_PLAYER_PACKAGE_NAME ${TOVANI_PACKAGE_PLAYER})
# One line per line of the control file's description (under 80 columns).
string(JOIN "\n" CPACK_DEBIAN_PLAYER_DESCRIPTION
  "Desktop content player of the Tovani learning platform${TOVANI_PACKAGE_BUILD_NOTE}"
  "Tovani shows the contents that the Tovani learning platform's links name"
  "(videos, PDF documents, embedded and web pages) in a window of its own, with"
  "the platform's watermark and printing through its own printer dialog. It"
  "handles the corvantiluxen: links of the platform's web site and talks only"
  "to the platform's service, whose servers it authenticates by their"
  "certificate pins.")
if(TOVANI_PACKAGE_DEVELOPMENT)
  string(APPEND CPACK_DEBIAN_PLAYER_DESCRIPTION "\n"
    "This build talks to the development service on loopback and trusts its"
    "\ntest root, whose private key is public: never for learners.")
endif()
# What the libraries do not name (the list from the libraries already holds
# the browser's helper process and the packages of the X11 and CUPS plugins):
# the opener of links, fonts for Arabic and the bar's icons, and Qt's Wayland
# platform plugin (without it and without XWayland, a Wayland session has no window).
set(CPACK_DEBIAN_PLAYER_PACKAGE_DEPENDS "xdg-utils, desktop-file-utils, fonts-dejavu-core, fonts-symbola, qt6-wayland")
# Qt's own translations: standard buttons in the user's language, right to left in Arabic.
set(CPACK_DEBIAN_PLAYER_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# A development build and a release hold the same files.
set(CPACK_DEBIAN_PLAYER_PACKAGE_CONFLICTS ${TOVANI_PACKAGE_OTHER_PLAYER})
set(CPACK_DEBIAN_PLAYER_PACKAGE_REPLACES ${TOVANI_PACKAGE_OTHER_PLAYER})
set(CPACK_DEBIAN_PLAYER_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PLAYER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${TOVANI_PACKAGE_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
string(JOIN "\n" CPACK_DEBIAN_TOOLS_DESCRIPTION
  "Operator and support tool of the Tovani learning platform${TOVANI_PACKAGE_BUILD_NOTE}"
  "tovani-tool seals content links, reads the service's documents with the"
  "platform's pins and the device's identity, and decodes the diagnostic codes"
  "the player shows. It is for the platform's operators and support, not for"
  "learners' machines.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONFLICTS ${TOVANI_PACKAGE_OTHER_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_REPLACES ${TOVANI_PACKAGE_OTHER_TOOLS})
include(CPack)

if(TOVANI_BUILD_TESTS)
  # Installs into the system and removes again: a label of its own.
  add_test(NAME package.InstallOpenRemove
           COMMAND ${CMAKE_SOURCE_DIR}/tests/player_qt/with_xvfb.sh
                   ${CMAKE_SOURCE_DIR}/tests/package/package_test.sh ${CMAKE_BINARY_DIR})
  # The installed player starts as a learner's would: against the service.
  set_tests_properties(package.InstallOpenRemove PROPERTIES LABELS package TIMEOUT 600 SKIP_RETURN_CODE 77
                       RUN_SERIAL TRUE FIXTURES_REQUIRED devservice RESOURCE_LOCK devservice)
endif()
