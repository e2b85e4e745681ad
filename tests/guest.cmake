# The program against the real Linux HID stack: a virtual machine boots
# Debian's own kernel under software emulation, a UHID meter of ours plays the
# meter, and the window runs with the real hidapi (hidraw backend) and its own
# hot-plug monitor. Labelled "guest": it runs once, in the normal build.
#
# Not in the sanitizer build: what it exercises is the kernel's HID stack and
# hidapi, and the sanitizer runtime would only swell the guest's image.
if(ZELMORA_SANITIZE)
  return()
endif()

# The meter: plain C on /dev/uhid, nothing of ours or of hidapi's.
add_executable(zelmora_guest_meter
  guest/uhid_meter.c guest/meter_replies.c guest/meter_replies.h)
set_target_properties(zelmora_guest_meter PROPERTIES
  OUTPUT_NAME uhid-meter C_STANDARD 11 AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

# The bare HID path, checked before the window is involved.
add_executable(zelmora_guest_probe guest/hidapi_probe.c)
target_link_libraries(zelmora_guest_probe PRIVATE PkgConfig::HIDAPI)
set_target_properties(zelmora_guest_probe PROPERTIES
  OUTPUT_NAME hidapi-probe C_STANDARD 11 AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

# The window with the real hidapi and the real pause.
add_executable(zelmora_guest_window_test
  guest/guest_window_test.cpp guest/meterlink.cpp guest/meterlink.h guest/tablechecks.h guest/windowfixture.h)
target_link_libraries(zelmora_guest_window_test PRIVATE
  zelmora_core PkgConfig::HIDAPI zelmora_pause ${QT}::Test)
set_target_properties(zelmora_guest_window_test PROPERTIES OUTPUT_NAME guest-window-test)

# Qt 6 imports its plugins' targets only where its own list of them was
# packaged, which Debian 12's Qt 6 is not.
if(NOT TARGET ${QT}::QOffscreenIntegrationPlugin)
  find_package(${QT}QOffscreenIntegrationPlugin CONFIG REQUIRED PATHS ${${QT}Gui_DIR} NO_DEFAULT_PATH)
endif()
add_test(NAME guest_hid_stack
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/guest/run-guest
    --work-dir ${CMAKE_CURRENT_BINARY_DIR}/guest-machine
    --platform-plugin $<TARGET_FILE:${QT}::QOffscreenIntegrationPlugin>
    --meter $<TARGET_FILE:zelmora_guest_meter>
    --probe $<TARGET_FILE:zelmora_guest_probe>
    --window-test $<TARGET_FILE:zelmora_guest_window_test>)
# Boot and the whole scenario take about a minute and a half under software
# emulation; the runner gives the machine 240 s before it calls it hung.
set_tests_properties(guest_hid_stack PROPERTIES LABELS guest TIMEOUT 300)
