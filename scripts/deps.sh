# Debian packages the build and the tests need, and the flags Debian builds
# with; sourced by scripts/test, scripts/package and scripts/run.
VELARIX_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  zlib1g-dev libfreeimage-dev
  libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686
  qt6-base-dev libgl-dev xvfb xauth xdotool x11-utils openbox
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  dpkg-dev lintian desktop-file-utils appstream x11-utils
)

# What the Windows build adds (scripts/windows): the mingw-w64 cross compilers
# and tools, Wine to run the tests, NSIS for the installer and what building
# the libraries from Debian's source packages takes.
VELARIX_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 nsis dpkg-dev nasm yasm python3 perl
)

# Installs what is missing when we are root; otherwise says what to run.
velarix_ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "== Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null && apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# The flags Debian builds its packages with (-O2, _FORTIFY_SOURCE=2, the stack
# protector, relro and bindnow), one CMake cache argument a line. The scripts
# configure `build` with them, so the package is built as it was tested and no
# script makes the next one rebuild everything. Run from the repository root:
# the prefix map makes paths in the binaries relative to it.
velarix_debian_flags() {
  local cppflags cflags cxxflags ldflags
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  cflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS)
  cxxflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  printf '%s\n' "-DCMAKE_C_FLAGS=$cflags $cppflags" "-DCMAKE_CXX_FLAGS=$cxxflags $cppflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
}
