# The notices the Windows folder owes: notices/NOTICES.txt beside the programs
# names the program's own terms, then each third-party component it ships
# with the files that hold it, the Debian source package and version it was
# built from, our patches, and the files beside it that carry its licence
# (copied from the Debian sources and packages at configure time, never
# retyped). The setup program's licence page shows the same NOTICES.txt.
#
# ZELMORA_WINDOWS_SOURCES is the list scripts/setup-windows writes of the
# source trees it built from ("package<TAB>version<TAB>folder" lines).

set(notices ${CMAKE_CURRENT_BINARY_DIR}/notices)
file(REMOVE_RECURSE ${notices})
file(MAKE_DIRECTORY ${notices}/patches)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${ZELMORA_WINDOWS_SOURCES} ${PROJECT_SOURCE_DIR}/packaging/debian-copyright)

file(STRINGS ${ZELMORA_WINDOWS_SOURCES} lines)
foreach(line ${lines})
  string(REPLACE "\t" ";" fields "${line}")
  list(GET fields 0 package)
  list(GET fields 1 version)
  list(GET fields 2 folder)
  set(version_${package} ${version})
  configure_file(${folder}/debian/copyright ${notices}/${package}-copyright.txt COPYONLY)
endforeach()
foreach(package qtbase-opensource-src hidapi libxlsxwriter minizip)
  if(NOT version_${package})
    message(FATAL_ERROR "${ZELMORA_WINDOWS_SOURCES} names no ${package}: run scripts/setup-windows")
  endif()
endforeach()

# The MinGW runtime and zlib come from the cross compiler's Debian packages.
foreach(package gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev libz-mingw-w64-dev)
  execute_process(COMMAND dpkg-query -W -f=\${source:Package}\ \${source:Version}\ \${Version} ${package}
                  OUTPUT_VARIABLE found RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${package} is not installed: run scripts/setup-windows")
  endif()
  string(REPLACE " " ";" found "${found}")
  list(GET found 0 source_${package})
  list(GET found 1 version_${package})
  list(GET found 2 binary_${package})
  configure_file(/usr/share/doc/${package}/copyright ${notices}/${package}-copyright.txt COPYONLY)
endforeach()
# The licence texts those files refer to in /usr/share/common-licenses (on
# Debian they are not repeated in each package), and the LGPL that Qt is
# taken under with the GPL it builds on.
set(common_licences LGPL-3 GPL-3)
file(GLOB copyrights ${notices}/*-copyright.txt)
foreach(copyright ${copyrights})
  file(STRINGS ${copyright} references REGEX "/usr/share/common-licenses/")
  string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+_-]*[A-Za-z0-9]" references "${references}")
  foreach(reference ${references})
    get_filename_component(licence ${reference} NAME)
    if(EXISTS ${reference})
      list(APPEND common_licences ${licence})
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES common_licences)
list(SORT common_licences)
set(licence_files "")
foreach(licence ${common_licences})
  configure_file(/usr/share/common-licenses/${licence} ${notices}/${licence}.txt COPYONLY)
  string(APPEND licence_files " ${licence}.txt")
endforeach()

# Our changes to a package, by name (the files go along).
function(zelmora_patches package out)
  file(GLOB patches ${PROJECT_SOURCE_DIR}/cmake/patches/${package}-*.patch)
  list(SORT patches)
  set(names "")
  foreach(patch ${patches})
    get_filename_component(name ${patch} NAME)
    configure_file(${patch} ${notices}/patches/${name} COPYONLY)
    string(APPEND names " patches\\${name}")
  endforeach()
  if(names STREQUAL "")
    set(names " none")
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
zelmora_patches(qtbase qt_patches)
zelmora_patches(hidapi hidapi_patches)
zelmora_patches(libxlsxwriter xlsx_patches)
zelmora_patches(minizip minizip_patches)

# The program's own terms, as its Debian package states them, without the
# paragraph on the Linux libraries.
file(READ ${PROJECT_SOURCE_DIR}/packaging/debian-copyright terms)
string(CONFIGURE "${terms}" terms @ONLY)
string(FIND "${terms}" "\n\nThe libraries" cut)
if(cut GREATER 0)
  string(SUBSTRING "${terms}" 0 ${cut} terms)
endif()

# The file names of the libraries' DLLs, as the install rules take them.
function(zelmora_dll_name target out)
  get_target_property(location ${target} LOCATION)
  get_filename_component(name "${location}" NAME)
  set(${out} ${name} PARENT_SCOPE)
endfunction()
foreach(module Core Gui Widgets QWindowsIntegrationPlugin QWindowsVistaStylePlugin)
  zelmora_dll_name(${QT}::${module} dll_${module})
endforeach()
set(hidapi_dll "")
foreach(target hidapi::winapi hidapi::hidapi)
  if(TARGET ${target})
    zelmora_dll_name(${target} hidapi_dll)
    break()
  endif()
endforeach()

set(debian "Debian 12 source package")
file(WRITE ${notices}/NOTICES.txt "${terms}

Zelmora ${PROJECT_VERSION} for Windows ships the components below. Each is
named with the files of this folder that hold it, the ${debian}
it was built from, our changes to it (in the folder notices\\patches) and the
files of the folder notices that carry its licence. Where those files refer to
a licence in /usr/share/common-licenses (as Debian's do), its text is the file
of that name here:${licence_files}.

The corresponding sources of the four components built here (the Debian source
packages as unpacked and patched by Debian, with our patches beside them) are
published with this version as ${ZELMORA_WINDOWS_SOURCES_ARCHIVE},
next to ${CPACK_PACKAGE_FILE_NAME}.exe and ${CPACK_PACKAGE_FILE_NAME}.zip; ask whoever gave you this
program for it.

Qt 5 (qtbase)
  Files:    ${dll_Core} ${dll_Gui} ${dll_Widgets}
            platforms\\${dll_QWindowsIntegrationPlugin} styles\\${dll_QWindowsVistaStylePlugin}
  Source:   ${debian} qtbase-opensource-src ${version_qtbase-opensource-src}
  Patches: ${qt_patches}
  Licence:  GNU Lesser General Public License version 3 (LGPL-3.txt with GPL-3.txt);
            the code Qt carries from others (zlib, libpng, PCRE2, HarfBuzz and
            more) under the terms in qtbase-opensource-src-copyright.txt.
            You may replace these DLLs with your own build of the same Qt.

hidapi
  Files:    ${hidapi_dll}
  Source:   ${debian} hidapi ${version_hidapi}
  Patches: ${hidapi_patches}
  Licence:  BSD 3-clause (the one taken of hidapi's three): hidapi-copyright.txt

libxlsxwriter
  Files:    linked into zelmora.exe and zelmora-demo.exe
  Source:   ${debian} libxlsxwriter ${version_libxlsxwriter}
  Patches: ${xlsx_patches}
  Licence:  BSD 2-clause, with the parts it carries from others under
            their own terms: libxlsxwriter-copyright.txt

minizip
  Files:    linked into zelmora.exe and zelmora-demo.exe
  Source:   ${debian} minizip ${version_minizip}
  Patches: ${minizip_patches}
  Licence:  zlib licence: minizip-copyright.txt

zlib
  Files:    linked into zelmora.exe and zelmora-demo.exe
  Source:   ${debian} ${source_libz-mingw-w64-dev} ${version_libz-mingw-w64-dev}
            (package libz-mingw-w64-dev ${binary_libz-mingw-w64-dev})
  Patches:  none
  Licence:  zlib licence: libz-mingw-w64-dev-copyright.txt

GCC runtime (libstdc++, libgcc)
  Files:    libstdc++-6.dll libgcc_s_seh-1.dll
  Source:   ${debian} ${source_gcc-mingw-w64-x86-64-posix-runtime} ${version_gcc-mingw-w64-x86-64-posix-runtime}
            (package gcc-mingw-w64-x86-64-posix-runtime ${binary_gcc-mingw-w64-x86-64-posix-runtime})
  Patches:  none
  Licence:  GNU GPL version 3 with the GCC Runtime Library Exception:
            gcc-mingw-w64-x86-64-posix-runtime-copyright.txt, GPL-3.txt

MinGW-w64 winpthreads
  Files:    libwinpthread-1.dll
  Source:   ${debian} ${source_mingw-w64-x86-64-dev} ${version_mingw-w64-x86-64-dev}
            (package mingw-w64-x86-64-dev ${binary_mingw-w64-x86-64-dev})
  Patches:  none
  Licence:  MIT-style: mingw-w64-x86-64-dev-copyright.txt (its winpthreads part)
")
install(DIRECTORY ${notices}/ DESTINATION notices)
set(ZELMORA_WINDOWS_LICENCE ${notices}/NOTICES.txt)
