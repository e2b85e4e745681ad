# The Debian package: `cpack` in the build tree makes
# dist/zelmora_<version>+deb<release>_amd64.deb of the Linux install.
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_NAME zelmora)
# The Debian release it is built on and for (see ZELMORA_DEB_VERSION). The
# changelog and the AppStream metadata keep the program's own version.
set(CPACK_DEBIAN_PACKAGE_VERSION ${ZELMORA_DEB_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Under /usr the udev rule goes to /usr/lib/udev/rules.d (see linux.cmake),
# where dpkg owns it and removes it with the package.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
Zelmora reads a handheld micro-ohm meter over USB HID: its live readings and
the readings stored in it, each in a table that can be saved as an Excel
workbook. zelmora-demo is the same program driving a simulated meter.]])
# Libraries as dpkg-shlibdeps finds them in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt 6 keeps its platform plugins (X11, Wayland) out of its libraries'
# packages, and no library the programs link names them: without them the
# window cannot open. Qt 5's are inside libqt5gui5.
if(ZELMORA_QT_MAJOR STREQUAL "6")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
# The window starts in Chinese: without a CJK font its texts are boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_STRIP_FILES ON)

# What every Debian package carries beside its programs: a manual page for
# each, the changelog and the copyright (these two name the maintainer). gzip
# -n keeps the time out of the compressed files.
foreach(file debian-changelog debian-copyright)
  configure_file(${file} ${CMAKE_CURRENT_BINARY_DIR}/${file} @ONLY)
endforeach()
set(zelmora_deb_gzipped)
foreach(pair ${CMAKE_CURRENT_SOURCE_DIR}/zelmora.1:zelmora.1 ${CMAKE_CURRENT_SOURCE_DIR}/zelmora-demo.1:zelmora-demo.1
             ${CMAKE_CURRENT_BINARY_DIR}/debian-changelog:changelog)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 name)
  add_custom_command(OUTPUT ${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${name}
    COMMAND gzip -9 -n -f ${name}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND zelmora_deb_gzipped ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(zelmora_deb_docs ALL DEPENDS ${zelmora_deb_gzipped})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zelmora.1.gz ${CMAKE_CURRENT_BINARY_DIR}/zelmora-demo.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(zelmora_deb_doc ${CMAKE_INSTALL_DATADIR}/doc/zelmora)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${zelmora_deb_doc})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian-copyright DESTINATION ${zelmora_deb_doc} RENAME copyright)

# The package's files carry the time of the changelog's last entry instead of
# the build's (cpack clamps them to SOURCE_DATE_EPOCH), so that the same
# sources make the same package, byte for byte. One in the environment wins.
execute_process(COMMAND dpkg-parsechangelog -l ${CMAKE_CURRENT_BINARY_DIR}/debian-changelog -STimestamp
                OUTPUT_VARIABLE zelmora_source_date OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE zelmora_source_date_result ERROR_QUIET)
if(NOT zelmora_source_date_result EQUAL 0 OR NOT zelmora_source_date MATCHES "^[0-9]+$")
  # Without dpkg-dev, the last commit's time.
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE zelmora_source_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(zelmora_source_date MATCHES "^[0-9]+$")
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/cpack-deb-options.cmake CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB" AND "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} @zelmora_source_date@)
endif()
]] @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-deb-options.cmake)
endif()
