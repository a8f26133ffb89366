#!/usr/bin/env bash
# GoogleTest and GoogleMock from Debian's /usr/src/googletest, static, with
# their CMake package config (GTest::gtest, GTest::gtest_main, GTest::gmock).
VW_LIB=googletest
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vw_build() {
  set -x
  vw_cmake_configure /usr/src/googletest -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON \
    -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
  cmake --build "$BUILD" -j"$VW_JOBS"
  cmake --install "$BUILD"
}

vw_main "$@"
