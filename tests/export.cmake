# The export is checked by reading its workbooks back with openpyxl (Debian's
# python3-openpyxl), so the reader must be a Python that has it: the system's,
# even when another python3 comes first on PATH. Windows test programs under
# Wine ask it through wine-run's read-back service.
set(found_python "")
find_program(ZELMORA_PATH_PYTHON3 python3)
foreach(candidate /usr/bin/python3 ${Python3_EXECUTABLE} ${ZELMORA_PATH_PYTHON3})
  if(candidate AND EXISTS ${candidate})
    execute_process(COMMAND ${candidate} -c "import openpyxl"
                    RESULT_VARIABLE no_openpyxl OUTPUT_QUIET ERROR_QUIET)
    if(no_openpyxl EQUAL 0)
      set(found_python ${candidate})
      break()
    endif()
  endif()
endforeach()
# Cached so that the export benchmark runs the same Python.
set(ZELMORA_OPENPYXL_PYTHON "${found_python}" CACHE INTERNAL "a python3 that can import openpyxl")

if(ZELMORA_OPENPYXL_PYTHON)
  set(readback_definitions
    ZELMORA_OPENPYXL_PYTHON="${ZELMORA_OPENPYXL_PYTHON}"
    ZELMORA_READBACK_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/test_export_readback.py")

  zelmora_add_qtest(test_export_workbook SOURCES test_export_workbook.cpp test_export_readback.h
                    test_export_filesizelimit.h LIBS PkgConfig::MINIZIP)
  target_compile_definitions(test_export_workbook PRIVATE ${readback_definitions})

  # The long saves, each with a table of 100,000 rows or more, take minutes
  # under Wine, where building such a table alone takes seconds.
  zelmora_add_qtest(test_export SOURCES test_export.cpp test_export_readback.h test_export_dialogs.h
                    test_export_filesizelimit.h support/windowdriver.h TIMEOUT 600)
  target_compile_definitions(test_export PRIVATE ${readback_definitions})

  # Two saves of a million rows each: seconds, not the blink of the others.
  zelmora_add_qtest(test_export_sheetlimit SOURCES test_export_sheetlimit.cpp test_export_readback.h)
  target_compile_definitions(test_export_sheetlimit PRIVATE ${readback_definitions})
  set_tests_properties(test_export_sheetlimit PROPERTIES LABELS long)
else()
  add_test(NAME test_export_workbook
    COMMAND ${CMAKE_COMMAND} -E echo "no python3 with openpyxl: run scripts/setup (package python3-openpyxl)")
  set_tests_properties(test_export_workbook PROPERTIES WILL_FAIL TRUE)
endif()
