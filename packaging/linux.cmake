include(GNUInstallDirs)

# udev reads rules only from /usr/lib and /etc, whatever the install prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(default_rules_dir "/usr/lib/udev/rules.d")
else()
  set(default_rules_dir "/etc/udev/rules.d")
endif()
set(ZELMORA_UDEV_RULES_DIR "${default_rules_dir}" CACHE PATH "Where the meter's udev rule is installed")

install(FILES 70-zelmora-meter.rules DESTINATION ${ZELMORA_UDEV_RULES_DIR})
install(FILES org.zelmora.Zelmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES icons/zelmora.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME org.zelmora.Zelmora.png)
install(FILES icons/zelmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME org.zelmora.Zelmora.svg)
