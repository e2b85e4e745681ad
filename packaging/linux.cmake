include(GNUInstallDirs)

# udev reads rules only from /usr/lib and /etc, whatever the install prefix:
# /usr/lib when installed under /usr (the Debian package), /etc otherwise.
# The prefix that counts is the one in force when installing (CPack's, or
# `cmake --install --prefix`), not the one configured, so the choice is made then.
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr/*$\")
    set(zelmora_rules_dir /usr/lib/udev/rules.d)
  else()
    set(zelmora_rules_dir /etc/udev/rules.d)
  endif()
  file(INSTALL DESTINATION \${zelmora_rules_dir} TYPE FILE
       FILES \"${CMAKE_CURRENT_SOURCE_DIR}/70-zelmora-meter.rules\")")
install(FILES org.zelmora.Zelmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES icons/zelmora.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME org.zelmora.Zelmora.png)
install(FILES icons/zelmora.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME org.zelmora.Zelmora.svg)
# Software centres list a program by its AppStream metadata.
install(FILES org.zelmora.Zelmora.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
