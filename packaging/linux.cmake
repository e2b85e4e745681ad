# The udev rule stays inside the prefix: under /usr (the Debian package) in
# the folder udev.pc names (udevdir) where that is inside /usr (Debian 13's;
# Debian 12's names /lib/udev, the same folder on its merged /usr), else in
# /usr/lib/udev; under any other prefix in its own lib/udev/rules.d, which
# udev does not read (the README says what to do).
# The prefix that counts is the one in force when installing (CPack's, or
# `cmake --install --prefix`), not the one configured, so the choice is made then.
find_package(PkgConfig QUIET)
set(zelmora_udevdir "")
if(PKG_CONFIG_FOUND)
  pkg_get_variable(zelmora_udevdir udev udevdir)
endif()
if(NOT zelmora_udevdir MATCHES "^/usr/")
  set(zelmora_udevdir /usr/lib/udev)
endif()
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr/*$\")
    set(zelmora_rules_dir ${zelmora_udevdir}/rules.d)
  else()
    set(zelmora_rules_dir \${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d)
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
