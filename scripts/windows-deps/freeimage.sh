#!/usr/bin/env bash
# FreeImage 3.18 from Debian's source as libfreeimage.dll (import library
# libfreeimage.dll.a, so find_library(freeimage) finds it), with the BMP, JPEG
# and PNG plugins over the libjpeg-turbo and libpng of this cache and the mingw
# zlib. The build file in freeimage/ compiles only what those need.
VW_LIB=freeimage
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vw_build() {
  set -x
  vw_cmake_configure "$VW_SCRIPTS_DIR/freeimage" -DFREEIMAGE_SOURCE_DIR="$SRC"
  cmake --build "$BUILD" -j"$VW_JOBS"
  cmake --install "$BUILD"
  test -f "$PREFIX/include/FreeImage.h"
  test -f "$PREFIX/lib/libfreeimage.dll.a"
  test -f "$PREFIX/bin/libfreeimage.dll"
}

vw_main "$@"
