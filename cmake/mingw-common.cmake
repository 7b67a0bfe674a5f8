# The part of the mingw-w64 toolchain files both targets share. Libraries are
# looked up in the target's sysroot (zlib from libz-mingw-w64-dev) and in
# TESSEL_WINDOWS_DEPS (libpng, pugixml and zstd built from Debian's sources by
# scripts/build-windows), never on the build machine.
set(CMAKE_C_COMPILER ${TESSEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSEL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TESSEL_MINGW_TRIPLE})
if(DEFINED ENV{TESSEL_WINDOWS_DEPS})
  list(PREPEND CMAKE_FIND_ROOT_PATH $ENV{TESSEL_WINDOWS_DEPS})
endif()
if(TESSEL_WINDOWS_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${TESSEL_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only static libraries: tessel.exe needs nothing Windows does not ship.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESSEL_WINDOWS_DEPS)
