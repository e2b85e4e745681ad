# The Windows installers, both made of the folder `cmake --install` lays out:
# a setup program (NSIS) that installs for the user alone or for everyone,
# with Start-menu entries and an uninstaller, and a portable zip of the same
# folder. The setup program comes from our own NSIS template
# (windows/NSIS.template.in): CPack's asks for an administrator always.
set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME "Zelmora")
set(CPACK_PACKAGE_FILE_NAME "Zelmora-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Zelmora")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Zelmora")
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_SOURCE_DIR}/windows)
# The sources the Windows libraries were built from, beside the installers.
set(ZELMORA_WINDOWS_SOURCES_ARCHIVE "${CPACK_PACKAGE_FILE_NAME}-sources.tar.gz")

set(CPACK_NSIS_PACKAGE_NAME "Zelmora")
set(CPACK_NSIS_DISPLAY_NAME "Zelmora")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/resources/app2.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/resources/app2.ico")
# "Apps & features" shows the program's own icon beside its entry.
set(CPACK_NSIS_INSTALLED_ICON_NAME "zelmora.exe")
set(CPACK_STRIP_FILES ON)

# The licence page: the program's terms, and with the cross build (which
# knows the Debian sources of what it ships) the third-party notices.
set(ZELMORA_WINDOWS_SOURCES "" CACHE FILEPATH
    "The list of the Windows libraries' source trees that scripts/setup-windows writes")
if(ZELMORA_WINDOWS_SOURCES)
  include(${CMAKE_CURRENT_SOURCE_DIR}/windows/notices.cmake)
else()
  configure_file(debian-copyright ${CMAKE_CURRENT_BINARY_DIR}/terms.txt @ONLY)
  set(ZELMORA_WINDOWS_LICENCE ${CMAKE_CURRENT_BINARY_DIR}/terms.txt)
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${ZELMORA_WINDOWS_LICENCE})

# Signing, decided when cpack runs (the certificate is in its environment).
set(ZELMORA_SIGN_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/windows/sign)
configure_file(windows/cpack-options.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake)
