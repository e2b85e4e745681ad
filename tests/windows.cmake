# Hot-plug through WM_DEVICECHANGE on the window's own HWND.
zelmora_add_qtest(test_win32hotplug SOURCES test_win32hotplug.cpp support/windowdriver.h TIMEOUT 120)

# The installed folder holds every DLL its programs need, and they start from
# it under Wine with nothing of the build on their paths.
find_program(ZELMORA_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
set(stage ${CMAKE_CURRENT_BINARY_DIR}/deployed)
add_test(NAME windows_deploy_folder
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSTAGE=${stage}
          -DOBJDUMP=${ZELMORA_MINGW_OBJDUMP} -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_deploy.cmake)
set_tests_properties(windows_deploy_folder PROPERTIES FIXTURES_SETUP deployed_folder)
add_test(NAME windows_deployed_programs_start
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/run-deployed ${stage} ${CMAKE_CROSSCOMPILING_EMULATOR}
          zelmora.exe zelmora-demo.exe)
set_tests_properties(windows_deployed_programs_start PROPERTIES
  FIXTURES_REQUIRED deployed_folder TIMEOUT 120)

# The icon resource of the program files, and the window's icon taken from it.
zelmora_add_qtest(test_win32icon SOURCES test_win32icon.cpp ${PROJECT_SOURCE_DIR}/resources/zelmora.rc TIMEOUT 60)
target_compile_definitions(test_win32icon PRIVATE
  ZELMORA_PROGRAM="Z:$<TARGET_FILE:zelmora>" ZELMORA_DEMO_PROGRAM="Z:$<TARGET_FILE:zelmora-demo>")
add_dependencies(test_win32icon zelmora zelmora-demo)

# The setup program, the portable zip and the sources archive, tried as a
# user and a publisher would: it makes the setup program twice (signed and
# not) and installs three times.
add_test(NAME windows_installers
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/try-installers ${PROJECT_BINARY_DIR}
          ${CMAKE_CROSSCOMPILING_EMULATOR} ${CMAKE_CURRENT_BINARY_DIR}/installers)
set_tests_properties(windows_installers PROPERTIES LABELS package TIMEOUT 900)

# The Windows program against a meter on a real HID stack: inside the test
# machine, Wine's HID bus turns the UHID meter's hidraw node into a Windows HID
# device, and Wine's Plug and Play sends the arrival and removal broadcasts.
# The window test links the real hidapi DLL and the real pause.
# Only hidapi as scripts/setup-windows builds it, with our current patches, can
# list devices under Wine; with any other the test fails and says why, so that
# it never simply goes missing from the run. That build lives in a prefix named
# mingw64-hidapi-<version><tag>, the tag made from the patches as below.
file(GLOB hidapi_patches ${PROJECT_SOURCE_DIR}/cmake/patches/hidapi-*.patch)
list(SORT hidapi_patches)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hidapi_patches})
set(hidapi_tag "")
if(hidapi_patches)
  set(patch_text "")
  foreach(patch ${hidapi_patches})
    file(READ ${patch} text)
    string(APPEND patch_text "${text}")
  endforeach()
  string(SHA256 digest "${patch_text}")
  string(SUBSTRING ${digest} 0 8 digest)
  set(hidapi_tag "+zelmora.${digest}")
endif()
set(hidapi_problem "")
if(TARGET hidapi::winapi)
  get_target_property(hidapi_dll hidapi::winapi IMPORTED_LOCATION_RELEASE)
  get_filename_component(hidapi_prefix "${hidapi_dll}" DIRECTORY)
  get_filename_component(hidapi_prefix "${hidapi_prefix}" DIRECTORY)
  get_filename_component(hidapi_prefix "${hidapi_prefix}" NAME)
  string(REGEX MATCH "\\+zelmora\\.[0-9a-f]+$" hidapi_prefix_tag "${hidapi_prefix}")
  if(NOT hidapi_prefix MATCHES "^mingw64-hidapi-" OR NOT "${hidapi_prefix_tag}" STREQUAL "${hidapi_tag}")
    set(hidapi_problem "hidapi's DLL ${hidapi_dll} is not the one scripts/setup-windows builds with cmake/patches")
  endif()
else()
  list(JOIN HIDAPI_LINK_LIBRARIES " " hidapi_libraries)
  set(hidapi_problem "hidapi came through pkg-config (${hidapi_libraries}), not from scripts/setup-windows")
endif()
if(hidapi_problem)
  add_test(NAME wine_guest_hid_stack
    COMMAND ${CMAKE_COMMAND} -E echo "${hidapi_problem}: run scripts/build windows")
  set_tests_properties(wine_guest_hid_stack PROPERTIES LABELS guest WILL_FAIL TRUE)
else()
  add_executable(zelmora_wine_window_test
    guest/wine_window_test.cpp guest/meterlink.cpp guest/meterlink.h guest/tablechecks.h guest/windowfixture.h)
  target_link_libraries(zelmora_wine_window_test PRIVATE
    zelmora_core hidapi::winapi zelmora_pause ${QT}::Test)
  set_target_properties(zelmora_wine_window_test PROPERTIES OUTPUT_NAME wine-window-test)

  add_test(NAME wine_guest_hid_stack
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/guest/run-wine-guest
      --work-dir ${CMAKE_CURRENT_BINARY_DIR}/wine-guest-machine
      --deployed ${stage}
      --window-test $<TARGET_FILE:zelmora_wine_window_test>
      --dll $<TARGET_FILE:${QT}::Test>
      --wine-run ${CMAKE_CROSSCOMPILING_EMULATOR}
      --wine64 ${ZELMORA_WINE64})
  # Boot, Wine's start in the guest and the test take five to six minutes
  # under software emulation; a loaded machine needs more, so the runner calls
  # the machine hung only after fourteen.
  set_tests_properties(wine_guest_hid_stack PROPERTIES
    LABELS guest FIXTURES_REQUIRED deployed_folder TIMEOUT 900)
endif()
