# cmake -P script: installs into a staging directory and checks the layout.
# The udev rule stays inside the prefix given when installing (not the one
# configured): udev's own folder under /usr, lib/udev/rules.d under any other.
# The last install, under /usr as the Debian package has it, is the one
# checked below.
foreach(case "/usr/local|usr/local/lib/udev/rules.d" "/opt/zelmora|opt/zelmora/lib/udev/rules.d"
             "/usr|usr/lib/udev/rules.d")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 prefix)
  list(GET case 1 rules_dir)
  file(REMOVE_RECURSE ${STAGE})
  set(ENV{DESTDIR} ${STAGE})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                  RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install --prefix ${prefix} failed")
  endif()
  file(GLOB_RECURSE rules LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*/70-zelmora-meter.rules)
  if(NOT rules STREQUAL "${rules_dir}/70-zelmora-meter.rules")
    message(FATAL_ERROR "with prefix ${prefix} the udev rule went to '${rules}', not ${rules_dir}")
  endif()
endforeach()
foreach(path
    usr/bin/zelmora
    usr/bin/zelmora-demo
    usr/share/applications/org.zelmora.Zelmora.desktop
    usr/share/metainfo/org.zelmora.Zelmora.metainfo.xml
    usr/share/icons/hicolor/256x256/apps/org.zelmora.Zelmora.png
    usr/share/icons/hicolor/scalable/apps/org.zelmora.Zelmora.svg
    usr/share/man/man1/zelmora.1.gz
    usr/share/man/man1/zelmora-demo.1.gz)
  if(NOT EXISTS ${STAGE}/${path})
    message(FATAL_ERROR "missing after install: ${path}")
  endif()
endforeach()
file(READ ${STAGE}/${rules} text)
if(NOT text MATCHES "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"e429\", TAG\\+=\"uaccess\"")
  message(FATAL_ERROR "the udev rule does not grant the meter to the seat's user")
endif()
file(READ ${STAGE}/usr/share/applications/org.zelmora.Zelmora.desktop desktop)
if(NOT desktop MATCHES "Exec=zelmora" OR NOT desktop MATCHES "Icon=org.zelmora.Zelmora")
  message(FATAL_ERROR "the desktop entry does not start the program with its icon")
endif()
message(STATUS "install layout is complete")
