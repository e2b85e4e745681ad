# `cmake --install` must put the program, its desktop entry, its icon and the
# udev rule where a Linux desktop looks for them.
add_test(NAME install_layout
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSTAGE=${CMAKE_CURRENT_BINARY_DIR}/install-stage
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_install.cmake)
