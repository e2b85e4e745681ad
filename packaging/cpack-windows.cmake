# The Windows installers, both made of the folder `cmake --install` lays out:
# a setup program (NSIS) that installs under Program Files with Start-menu
# entries and an uninstaller, and a portable zip of the same folder.
set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME "Zelmora")
set(CPACK_PACKAGE_FILE_NAME "Zelmora-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Zelmora")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Zelmora")

# A 64-bit setup program, as the programs it installs (Debian's NSIS carries
# the amd64-unicode stubs), installing into the 64-bit Program Files.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Zelmora")
set(CPACK_NSIS_DISPLAY_NAME "Zelmora")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/resources/app2.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/resources/app2.ico")
# "Apps & features" shows the program's own icon beside its entry.
set(CPACK_NSIS_INSTALLED_ICON_NAME "zelmora.exe")
# Start-menu entries (they take their icons from the programs' IDI_ICON1):
# the program, and the demo that works without a meter.
set(CPACK_PACKAGE_EXECUTABLES "zelmora;Zelmora;zelmora-demo;Zelmora demo")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_STRIP_FILES ON)
