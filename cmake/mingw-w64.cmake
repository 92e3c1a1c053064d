# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, for std::thread).
# The dependencies live in a prefix of their own (scripts/build-windows-deps.sh); pass it as
# VEMTORA_WINDOWS_PREFIX, on the command line or in the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR ${_triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_triple}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT VEMTORA_WINDOWS_PREFIX AND DEFINED ENV{VEMTORA_WINDOWS_PREFIX})
  set(VEMTORA_WINDOWS_PREFIX "$ENV{VEMTORA_WINDOWS_PREFIX}")
endif()
# try_compile projects see the toolchain file again, without the cache: hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEMTORA_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${VEMTORA_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(VEMTORA_WINDOWS_PREFIX)
  list(APPEND CMAKE_PREFIX_PATH ${VEMTORA_WINDOWS_PREFIX})
  # pkg-config must see the prefix's .pc files only, never the build machine's.
  set(ENV{PKG_CONFIG_LIBDIR} "${VEMTORA_WINDOWS_PREFIX}/lib/pkgconfig:${VEMTORA_WINDOWS_PREFIX}/share/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
