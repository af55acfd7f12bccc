# `cpack -G DEB` in a build folder makes Debian packages of what
# `cmake --install` installs: murmela-cli (the CLI, its manual page and
# completions) and, where the build installs the stand-in
# (MURMELA_INSTALL_STAND_IN, on by default on Linux), murmela-stand-in,
# which lets the CLI work on Linux.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(MURMELA_INSTALL_STAND_IN)
  list(APPEND CPACK_COMPONENTS_ALL stand_in)
endif()
set(CPACK_PACKAGE_NAME murmela-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Murmela developers <cli@murmela.app>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME murmela-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION "command-line companion of the Murmela app
murmela-cli controls Murmela, an app for dictation and for recording,
transcribing and taking notes on meetings, from a terminal, a script or a
coding agent. Each command is a request to the running app; results print
as JSON.
.
Where the Murmela app does not run (Linux), install murmela-stand-in beside
it: on its own this package can only print its help, run agents and mcp.")
# On Linux every command for the app needs the stand-in: apt installs it
# with the CLI unless asked not to.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS murmela-stand-in)

set(CPACK_DEBIAN_STAND_IN_PACKAGE_NAME murmela-stand-in)
set(CPACK_COMPONENT_STAND_IN_DESCRIPTION "stand-in for the Murmela app, for murmela-cli on Linux
A small meeting app that serves the socket murmela-cli talks to, so that
every murmela-cli command works on Linux: it imports real audio, recognises
English speech offline with pocketsphinx, and exports WAV and PDF files.
murmela-cli starts it when it is not running.")
# The speech model and the fonts of its PDFs are data it reads at run time,
# not libraries: without them it still works (made-up transcripts, fewer
# scripts in PDFs).
set(CPACK_DEBIAN_STAND_IN_PACKAGE_RECOMMENDS
  "murmela-cli, pocketsphinx-en-us, fonts-dejavu-core, fonts-droid-fallback")

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
configure_file(cmake/deb_finish.cmake.in deb_finish.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_BINARY_DIR}/deb_finish.cmake)
include(CPack)
