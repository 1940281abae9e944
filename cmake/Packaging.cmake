# Debian packages made by `cpack -G DEB` in a build directory: "lumarin" (the program, its
# desktop entry with the lumarin: scheme handler, its icon) and "lumarin-service" (the web
# service with its systemd unit). The program writes its own autostart entry when the user
# asks for it, so the package ships none.
include(GNUInstallDirs)

install(TARGETS lumarin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/resources/lumarin.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/lumarin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT program)

install(TARGETS lumarin-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumarin-service.service
        DESTINATION lib/systemd/system COMPONENT service)
install(FILES ${PROJECT_SOURCE_DIR}/docs/service.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/../lumarin-service COMPONENT service)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumarin)
set(CPACK_PACKAGE_VENDOR "Kestova")
set(CPACK_PACKAGE_CONTACT "Lumarin developers <lumarin@kestova.example>")
set(CPACK_PACKAGE_VERSION ${LUMARIN_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program service)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LUMARIN_BUILD})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME lumarin)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "Menu bar utility on a simulated Mac\n Mirrors Dock badges into menu bar items and shows every menu bar item in a HUD.")
# libcurl is opened at run time (the first request), so dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "adwaita-icon-theme, fonts-dejavu-core, libcurl4")
set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME lumarin-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVICE_DESCRIPTION
    "Lumarin account and settings sync service\n Sign-in, settings sync and reports for Lumarin, on SQLite or PostgreSQL.")
include(CPack)
