#!/usr/bin/env bash
# libpng from Debian's libpng1.6 source, as a DLL against Debian's mingw zlib
# (libz-mingw-w64-dev, found in /usr/<triple> through the toolchain file).
VW_LIB=libpng
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vw_build() {
  set -x
  vw_cmake_configure "$SRC" -DPNG_SHARED=ON -DPNG_STATIC=OFF -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=ON -DSKIP_INSTALL_PROGRAMS=ON \
    -DSKIP_INSTALL_EXECUTABLES=ON
  cmake --build "$BUILD" -j"$VW_JOBS"
  cmake --install "$BUILD"
  rm -rf "$PREFIX/share/man"
  test -f "$PREFIX/include/png.h"
  ls "$PREFIX"/bin/libpng16*.dll
}

vw_main "$@"
