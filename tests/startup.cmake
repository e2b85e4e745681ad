zelmora_add_qtest(test_startup SOURCES test_startup.cpp)

if(CMAKE_CROSSCOMPILING)
  return() # the catalogue check reads the sources, whatever the target
endif()

# Every tr() text in the sources must be in the catalogues, and the catalogues
# must hold nothing the sources no longer say.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME catalogue_matches_sources
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/check_catalogue.py
          $<TARGET_FILE:${QT}::lupdate> ${PROJECT_SOURCE_DIR})
