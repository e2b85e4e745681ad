# Windows test programs run on the build machine under 64-bit Wine: CTest
# starts each one through cmake/wine-run, which finds the DLLs of the
# cross-built libraries and of the MinGW runtime, and gives the tests a
# stand-in for the workbook reader they cannot start themselves.
find_program(ZELMORA_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZELMORA_WINE64)
  message(FATAL_ERROR "wine64 not found: run scripts/setup-windows")
endif()

# Folders holding the DLLs the test programs load, as Unix paths.
get_target_property(zelmora_qtcore_dll ${QT}::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(zelmora_qt_bin "${zelmora_qtcore_dll}" DIRECTORY)
set(zelmora_dll_dirs "${zelmora_qt_bin}")
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(folder "${found}" DIRECTORY)
  list(APPEND zelmora_dll_dirs "${folder}")
endforeach()
if(TARGET hidapi::winapi)
  get_target_property(hidapi_dll hidapi::winapi IMPORTED_LOCATION_RELEASE)
  get_filename_component(folder "${hidapi_dll}" DIRECTORY)
  list(APPEND zelmora_dll_dirs "${folder}")
endif()
list(REMOVE_DUPLICATES zelmora_dll_dirs)
list(JOIN zelmora_dll_dirs ":" ZELMORA_WINE_DLL_DIRS)

set(ZELMORA_WINE_PREFIX "${PROJECT_BINARY_DIR}/wineprefix")
set(ZELMORA_READBACK_SERVICE "${PROJECT_SOURCE_DIR}/tests/readback_service.py")
set(ZELMORA_WINE64 "${ZELMORA_WINE64}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
