# `cpack -G DEB` in a build folder makes a Debian package of what
# `cmake --install` installs: the CLI, its manual page and completions.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME murmela-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Murmela developers <cli@murmela.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line companion of the Murmela app")
set(CPACK_PACKAGE_DESCRIPTION
  "murmela-cli controls Murmela, an app for dictation and for recording,\n\
transcribing and taking notes on meetings, from a terminal, a script or a\n\
coding agent. Each command is a request to the running app; results print\n\
as JSON.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
configure_file(cmake/deb_finish.cmake.in deb_finish.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_BINARY_DIR}/deb_finish.cmake)
include(CPack)
