# The folder a Windows machine with nothing installed can run: the programs
# with every DLL and plugin they load that Windows itself does not provide,
# laid out as windeployqt would (Qt's DLLs beside the programs, plugins in
# their folders). `cmake --install build-windows --prefix <folder>` makes it.

# Qt's libraries and the plugins a widgets program needs on Windows: the
# platform integration and the native look.
foreach(module Core Gui Widgets)
  install(FILES $<TARGET_FILE:${QT}::${module}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:${QT}::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:${QT}::QWindowsVistaStylePlugin> DESTINATION styles)

# hidapi, when it is a DLL (the cross build's is).
foreach(target hidapi::winapi hidapi::hidapi)
  if(TARGET ${target})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      install(FILES $<TARGET_FILE:${target}> DESTINATION .)
      break()
    endif()
  endif()
endforeach()

# The MinGW runtime that Qt and the programs are linked with.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  install(FILES "${path}" DESTINATION .)
endforeach()

# Qt looks for its plugins in the folder it was built for before the
# program's own; on the user's machine that folder is the program's.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qt.conf "[Paths]\nPrefix = .\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qt.conf DESTINATION .)
