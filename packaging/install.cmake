# `cmake --install` layout and the Debian package (`cpack -G DEB` in the build folder).
include(GNUInstallDirs)

install(TARGETS brzmqtt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/brzmqtt.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian names the licence file of a package "copyright".
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/brzmqtt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/brzmqtt RENAME copyright)
install(FILES ${PROJECT_SOURCE_DIR}/schema/commands.schema.json ${PROJECT_SOURCE_DIR}/schema/events.schema.json
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/brzmqtt/schema)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brzmqtt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console MQTT 3.1.1 and 5.0 client driven by JSON lines")
# Debian wants the extended description in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "brzmqtt reads one JSON command per line on standard input and prints one
JSON event line per event on standard output. It connects over tcp://,
tcps://, ws:// and wss://, answers the QoS 1 and 2 flows itself, keeps
connections alive and reopens lost ones, and can be driven by remote
operators over WebSocket or raw TCP. JSON Schemas of the commands and the
event lines are included.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane.example")
# Depends computed by dpkg-shlibdeps from the libraries the binary links (libssl, zlib, libc, libstdc++).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
