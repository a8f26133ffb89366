#!/usr/bin/env bash
# libjpeg-turbo from Debian's source, as a DLL with the libjpeg 6.2 API that
# FreeImage uses, with its SIMD code (nasm).
VW_LIB=libjpeg-turbo
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vw_build() {
  set -x
  command -v nasm >/dev/null || apt-get install -y nasm </dev/null
  vw_cmake_configure "$SRC" -DENABLE_SHARED=ON -DENABLE_STATIC=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm \
    -DCMAKE_INSTALL_DOCDIR="$BUILD/unused-doc" -DCMAKE_INSTALL_MANDIR="$BUILD/unused-man"
  cmake --build "$BUILD" -j"$VW_JOBS"
  cmake --install "$BUILD"
  # The command-line tools are of no use to Velarix.
  rm -f "$PREFIX"/bin/*.exe
  test -f "$PREFIX/include/jpeglib.h"
  ls "$PREFIX"/bin/libjpeg-*.dll
}

vw_main "$@"
