# What `cmake --install` puts where, and the packages CPack makes from it:
# on Linux a Debian package with p2kfm-cli, its man page and the udev rules;
# on Windows a zip per architecture with the programs, the README and the
# licence. The version is the project's.
include(GNUInstallDirs)
set(CPACK_PACKAGE_VENDOR "The p2kfm developers")
set(CPACK_PACKAGE_CONTACT "The p2kfm developers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)

if(WIN32)
  install(TARGETS p2kfm p2kfm-demo p2kfm-cli RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  # Named p2kfm-VERSION-win32 or -win64.
  set(CPACK_GENERATOR ZIP)
else()
  install(TARGETS p2kfm-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/p2kfm-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # udev reads rules below /usr and /usr/local alike.
  set(P2K_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Where the udev rules go, relative to the prefix")
  install(FILES resources/99-p2kfm.rules DESTINATION ${P2K_UDEV_RULES_DIR})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The dependencies are those of the libraries the tool links (libusb among them).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/resources/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
