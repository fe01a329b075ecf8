# Installation and the Debian package.
#
#   cmake --install build/default --prefix /usr/local
#   cd build/default && cpack            -> kestrovan_<version>_<arch>.deb
include(GNUInstallDirs)

# The stand-ins keep a kestrovan- prefix on the system path, so that their
# plain build names cannot clash with other programs.
install(PROGRAMS $<TARGET_FILE:bootloader_sim> DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME kestrovan-bootloader-sim)
install(PROGRAMS $<TARGET_FILE:port_owner> DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME kestrovan-port-owner)

if(TARGET kestrovan)
  install(TARGETS kestrovan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/app/res/kestrovan.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/app/res/icon_128.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME kestrovan.png)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrovan)
set(CPACK_PACKAGE_VENDOR "Kestrovan")
set(CPACK_PACKAGE_CONTACT "Kestrovan developers <developers@kestrovan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Writes firmware into a head unit's microcontroller over its serial link")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrovan sends an S-record firmware file to the boot loader of an in-car head unit's
microcontroller over a serial port taken over from the unit's port-owner daemon, and can
send and verify a key configuration file. Includes a boot-loader simulator and a port-owner
stand-in for trying it out without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries are found by dpkg-shlibdeps; the Qt platform plugins
# are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
