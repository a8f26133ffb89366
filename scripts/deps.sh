# Debian packages the build and the tests need; sourced by scripts/test.
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
