# Cross-compiles for 64-bit Windows with Debian's mingw-w64, posix-threads
# variant (the HID guard needs std::recursive_mutex and std::condition_variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELMORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELMORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELMORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELMORA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot and from the folders
# named in CMAKE_PREFIX_PATH (the Windows libraries built by setup-windows);
# programs such as lrelease come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELMORA_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib goes into the programs; no zlib1.dll to ship.
set(ZLIB_USE_STATIC_LIBS ON)
