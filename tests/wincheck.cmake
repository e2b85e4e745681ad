# The Win32 pieces cannot run here, but they must at least compile for
# Windows: cross-compile them with mingw-w64, warnings as errors.
find_program(MINGW_CXX NAMES x86_64-w64-mingw32-g++ x86_64-w64-mingw32-g++-posix)
if(MINGW_CXX)
  add_test(NAME windows_sources_compile
    COMMAND ${CMAKE_COMMAND}
            -DCOMPILER=${MINGW_CXX}
            -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DOUT_DIR=${CMAKE_CURRENT_BINARY_DIR}/wincheck
            -P ${CMAKE_CURRENT_SOURCE_DIR}/wincheck.cmake.in)
else()
  add_test(NAME windows_sources_compile
    COMMAND ${CMAKE_COMMAND} -E echo "x86_64-w64-mingw32-g++ not found: run scripts/setup (package mingw-w64)")
  set_tests_properties(windows_sources_compile PROPERTIES WILL_FAIL TRUE)
endif()
