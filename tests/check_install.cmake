# cmake -P script: installs into a staging directory and checks the layout.
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
file(GLOB_RECURSE rules ${STAGE}/*/70-zelmora-meter.rules)
foreach(path
    usr/bin/zelmora
    usr/share/applications/org.zelmora.Zelmora.desktop
    usr/share/icons/hicolor/256x256/apps/org.zelmora.Zelmora.png
    usr/share/icons/hicolor/scalable/apps/org.zelmora.Zelmora.svg)
  if(NOT EXISTS ${STAGE}/${path})
    message(FATAL_ERROR "missing after install: ${path}")
  endif()
endforeach()
if(NOT rules)
  message(FATAL_ERROR "the udev rule was not installed")
endif()
list(GET rules 0 rule)
if(NOT rule MATCHES "/(etc|usr/lib)/udev/rules.d/")
  message(FATAL_ERROR "udev does not read rules from ${rule}")
endif()
file(READ ${rule} text)
if(NOT text MATCHES "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"1a86\", ATTRS{idProduct}==\"e429\", TAG\\+=\"uaccess\"")
  message(FATAL_ERROR "the udev rule does not grant the meter to the seat's user")
endif()
file(READ ${STAGE}/usr/share/applications/org.zelmora.Zelmora.desktop desktop)
if(NOT desktop MATCHES "Exec=zelmora" OR NOT desktop MATCHES "Icon=org.zelmora.Zelmora")
  message(FATAL_ERROR "the desktop entry does not start the program with its icon")
endif()
message(STATUS "install layout is complete")
