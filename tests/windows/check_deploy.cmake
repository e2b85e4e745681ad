# cmake -P script: installs the Windows build into STAGE the way a user gets
# it, then follows every DLL each program and library imports: each must be
# in the folder itself or be part of Windows. What Wine happens to provide
# does not count, so this also holds on a bare Windows machine.
#   -DBUILD_DIR=<build-windows> -DSTAGE=<folder> -DOBJDUMP=<x86_64-w64-mingw32-objdump>
cmake_policy(VERSION 3.20)
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${STAGE}"
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "cmake --install failed")
endif()

foreach(required zelmora.exe zelmora-demo.exe platforms/qwindows.dll styles/qwindowsvistastyle.dll)
  if(NOT EXISTS "${STAGE}/${required}")
    message(FATAL_ERROR "the folder lacks ${required}")
  endif()
endforeach()

# DLLs every 64-bit Windows since 7 carries (lower case).
set(system_dlls
  advapi32.dll cfgmgr32.dll comctl32.dll comdlg32.dll d3d11.dll dwmapi.dll dxgi.dll gdi32.dll hid.dll
  imm32.dll kernel32.dll mpr.dll msvcrt.dll netapi32.dll ole32.dll oleaut32.dll
  setupapi.dll shell32.dll shlwapi.dll user32.dll userenv.dll uxtheme.dll version.dll
  winmm.dll ws2_32.dll wtsapi32.dll)

file(GLOB_RECURSE binaries RELATIVE "${STAGE}" "${STAGE}/*.exe" "${STAGE}/*.dll")
file(GLOB_RECURSE shipped RELATIVE "${STAGE}" "${STAGE}/*.dll")
set(shipped_names "")
foreach(dll ${shipped})
  get_filename_component(name "${dll}" NAME)
  string(TOLOWER "${name}" name)
  list(APPEND shipped_names "${name}")
endforeach()

set(problems "")
foreach(binary ${binaries})
  execute_process(COMMAND ${OBJDUMP} -p "${STAGE}/${binary}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump cannot read ${binary}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(line ${imports})
    string(REGEX REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(dll IN_LIST shipped_names OR dll IN_LIST system_dlls)
      continue()
    endif()
    if(dll MATCHES "^api-ms-win-")
      continue() # API sets, resolved by Windows itself
    endif()
    list(APPEND problems "${binary} needs ${dll}")
  endforeach()
endforeach()
if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "DLLs neither in the folder nor part of Windows:\n  ${text}")
endif()
list(LENGTH binaries count)
message(STATUS "${count} programs and libraries, every import found")
