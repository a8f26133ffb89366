# Cross-compiles for Windows with Debian's mingw-w64 compilers (the -posix
# thread variants: the win32 ones have no std::thread).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake [-DVELARIX_WIN_ARCH=i686] ...
#
# VELARIX_WIN_ARCH (cache variable or environment): x86_64 (default) or i686.
# VELARIX_WIN_PREFIX_PATH (cache variable or environment): ;-separated install
# prefixes of the Windows dependencies, as scripts/windows-deps/build-all
# writes them to its env file. Libraries, headers and packages are searched
# only there and in /usr/<triple> (Debian's libz-mingw-w64-dev); programs
# are searched on the host.

if(NOT VELARIX_WIN_ARCH)
  if(DEFINED ENV{VELARIX_WIN_ARCH} AND NOT "$ENV{VELARIX_WIN_ARCH}" STREQUAL "")
    set(VELARIX_WIN_ARCH "$ENV{VELARIX_WIN_ARCH}")
  else()
    set(VELARIX_WIN_ARCH x86_64)
  endif()
endif()
if(NOT VELARIX_WIN_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "VELARIX_WIN_ARCH must be x86_64 or i686, not '${VELARIX_WIN_ARCH}'")
endif()
set(VELARIX_WIN_ARCH "${VELARIX_WIN_ARCH}" CACHE STRING "Windows target: x86_64 or i686")

if(NOT VELARIX_WIN_PREFIX_PATH AND DEFINED ENV{VELARIX_WIN_PREFIX_PATH})
  set(VELARIX_WIN_PREFIX_PATH "$ENV{VELARIX_WIN_PREFIX_PATH}")
endif()

# try_compile projects re-read this file; hand them the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELARIX_WIN_ARCH VELARIX_WIN_PREFIX_PATH)

set(_velarix_triple "${VELARIX_WIN_ARCH}-w64-mingw32")

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR "${VELARIX_WIN_ARCH}")
set(CMAKE_C_COMPILER "${_velarix_triple}-gcc-posix")
set(CMAKE_CXX_COMPILER "${_velarix_triple}-g++-posix")
set(CMAKE_RC_COMPILER "${_velarix_triple}-windres")

set(CMAKE_FIND_ROOT_PATH ${VELARIX_WIN_PREFIX_PATH} "/usr/${_velarix_triple}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
