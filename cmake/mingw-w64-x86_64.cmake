# Cross-compiles for 64-bit Windows with the posix-thread MinGW-w64 compilers.
# ORLIN_WINDOWS_DEPS (environment or cache) names the folder holding the
# Windows builds of Qt, OpenSSL, libmosquitto, googletest and benchmark.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR ${_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_triple}-ranlib CACHE FILEPATH "")

if(NOT ORLIN_WINDOWS_DEPS AND DEFINED ENV{ORLIN_WINDOWS_DEPS})
  set(ORLIN_WINDOWS_DEPS $ENV{ORLIN_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
if(ORLIN_WINDOWS_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${ORLIN_WINDOWS_DEPS} ${ORLIN_WINDOWS_DEPS}/qt)
  list(APPEND CMAKE_PREFIX_PATH ${ORLIN_WINDOWS_DEPS} ${ORLIN_WINDOWS_DEPS}/qt)
  # pkg-config must see only the Windows .pc files, never the host's.
  set(ENV{PKG_CONFIG_LIBDIR} ${ORLIN_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine.
find_program(ORLIN_WINE NAMES wine64 wine HINTS /usr/lib/wine)
if(ORLIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORLIN_WINE})
endif()
