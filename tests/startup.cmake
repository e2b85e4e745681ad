zelmora_add_qtest(test_startup SOURCES test_startup.cpp)

# One copy of the program a session; the whole program is started twice.
zelmora_add_qtest(test_singleinstance SOURCES test_singleinstance.cpp TIMEOUT 120)
if(WIN32)
  target_compile_definitions(test_singleinstance PRIVATE ZELMORA_PROGRAM="Z:$<TARGET_FILE:zelmora>")
else()
  target_compile_definitions(test_singleinstance PRIVATE ZELMORA_PROGRAM="$<TARGET_FILE:zelmora>")
endif()
add_dependencies(test_singleinstance zelmora)

if(CMAKE_CROSSCOMPILING)
  return() # the catalogue check reads the sources, whatever the target
endif()

# Every tr() text in the sources must be in the catalogues, and the catalogues
# must hold nothing the sources no longer say.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME catalogue_matches_sources
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/check_catalogue.py
          $<TARGET_FILE:${QT}::lupdate> ${PROJECT_SOURCE_DIR})
