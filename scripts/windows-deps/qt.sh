#!/usr/bin/env bash
# Qt 6 base from Debian's qt6-base source: Core, Gui, Widgets, Network, Test and
# the windows platform plugin, as shared DLLs. moc, rcc and uic come from
# Debian's host Qt of the same version (QT_HOST_PATH). The third-party
# libraries Qt bundles are used, so nothing of the host leaks in.
VW_LIB=qt
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vw_build() {
  set -x
  local host_info=/usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo
  [[ -f "$host_info/Qt6HostInfoConfig.cmake" ]] ||
    { echo "host Qt missing: install qt6-base-dev and qt6-base-dev-tools"; exit 1; }
  local bundled=() lib
  for lib in zlib png jpeg freetype harfbuzz pcre2 doubleconversion libb2 md4c; do
    bundled+=("-DFEATURE_system_$lib=OFF")
  done
  # tabletevent: Debian's tarball drops wintab.h. OpenGL stays at its default:
  # 6.4's windows plugin does not compile without it.
  vw_cmake_configure "$SRC" \
    -DQT_HOST_PATH=/usr -DQt6HostInfo_DIR="$host_info" \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF \
    "${bundled[@]}" \
    -DFEATURE_tabletevent=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_testlib=ON -DFEATURE_openssl=OFF
  cmake --build "$BUILD" -j"$VW_JOBS"
  cmake --install "$BUILD"
  test -f "$PREFIX/plugins/platforms/qwindows.dll"
  test -f "$PREFIX/bin/Qt6Test.dll"
}

vw_main "$@"
