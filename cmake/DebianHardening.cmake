# Debian builds every program in its archive with the flags dpkg-buildflags
# gives, and a program that parses what a USB device sends needs them as
# much as any: with hardening=+all, fortified libc functions, the strong
# stack protector, format strings checked, read-only relocations bound at
# start-up, and control-flow protection where the release's dpkg adds it.
# Every native Linux build takes them where dpkg-buildflags (dpkg-dev) is
# found, so a plain `cmake` build is hardened as the package is. Not the
# sanitizer build (its instrumentation and its own flags are what it tests)
# nor a cross build (the host's dpkg speaks for the host's compiler).
#
# The build type keeps the say over optimisation and debug information
# (dpkg-buildflags' own -g -O2 are left out), and source paths stay as they
# are (no -ffile-prefix-map), so a debugger finds the sources of a build tree.
option(ZELMORA_HARDENING "Build with dpkg-buildflags' hardening (hardening=+all) where it is found" ON)
if(NOT ZELMORA_HARDENING OR ZELMORA_SANITIZE OR CMAKE_CROSSCOMPILING OR WIN32)
  return()
endif()
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags not found (package dpkg-dev): the programs are built without Debian's hardening")
  return()
endif()

foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
      "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
      "DEB_${kind}_MAINT_STRIP=-g -O2"
      ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
  endif()
  separate_arguments(zelmora_${kind} UNIX_COMMAND "${flags}")
endforeach()

# _FORTIFY_SOURCE works on optimised code only, and glibc warns about it at
# every file of a Debug build.
set(zelmora_optimised $<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>)
add_compile_options(
  "$<$<AND:${zelmora_optimised},$<COMPILE_LANGUAGE:C,CXX>>:${zelmora_CPPFLAGS}>"
  "$<$<COMPILE_LANGUAGE:C>:${zelmora_CFLAGS}>"
  "$<$<COMPILE_LANGUAGE:CXX>:${zelmora_CXXFLAGS}>")
add_link_options(${zelmora_LDFLAGS})
string(REPLACE ";" " " zelmora_hardening "${zelmora_CPPFLAGS};${zelmora_CXXFLAGS};${zelmora_LDFLAGS}")
message(STATUS "Hardened with dpkg-buildflags: ${zelmora_hardening}")
