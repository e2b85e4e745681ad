# `cmake --install` must put the program, its desktop entry, its icon and the
# udev rule where a Linux desktop looks for them.
add_test(NAME install_layout
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSTAGE=${CMAKE_CURRENT_BINARY_DIR}/install-stage
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_install.cmake)

# The Debian package as scripts/package makes it, judged by lintian and
# appstreamcli, then tried by piuparts on a clean Debian system: installed,
# started, removed and purged (tests/package/try-deb: root, and a few
# minutes). Labelled "package". Not in the sanitizer build: its programs are
# not what ships.
if(ZELMORA_SANITIZE)
  return()
endif()
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE deb_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE deb_arch_result)
if(NOT deb_arch_result EQUAL 0)
  set(deb_arch amd64)
endif()
set(deb ${PROJECT_BINARY_DIR}/dist/zelmora_${ZELMORA_DEB_VERSION}_${deb_arch}.deb)
# An earlier version's package would be found beside this one's.
add_test(NAME package_deb_build
  COMMAND sh -c "rm -f dist/*.deb && exec \"$0\" -G DEB --config CPackConfig.cmake" ${CMAKE_CPACK_COMMAND}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
add_test(NAME package_deb_check COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/check-deb ${deb})
add_test(NAME package_deb_clean_system COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/try-deb ${deb})
set_tests_properties(package_deb_build PROPERTIES LABELS package FIXTURES_SETUP deb TIMEOUT 600)
set_tests_properties(package_deb_check PROPERTIES LABELS package FIXTURES_REQUIRED deb TIMEOUT 120)
# apt's downloads of Qt and the rest are most of its time.
# needs-host: its mount namespace needs "/" to be a mount, which a booted
# machine and the systems scripts/debian-system makes have and a plain chroot
# has not (`ctest -LE needs-host` there).
set_tests_properties(package_deb_clean_system PROPERTIES LABELS "package;needs-host" FIXTURES_REQUIRED deb TIMEOUT 1200)
