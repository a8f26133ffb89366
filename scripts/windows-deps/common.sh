# shellcheck shell=bash disable=SC2034
# Shared by the Windows dependency scripts: where the cache lives, how a
# library's cache key is made, logging, and fetching Debian source packages.
# Sourced, never run. Each library script sets VW_LIB, defines vw_build and
# calls vw_main "$@".
#
# Cache layout, under ${XDG_CACHE_HOME:-$HOME/.cache}/velarix/windows:
#   src/<package>-<version>/        unpacked Debian source, patches applied
#   <arch>/<lib>-<version>-<key>/   install prefix of one library build
#   <arch>/build/<lib>/             build folder, removed after a good build
#   logs/<arch>-<lib>.log           the build log of the last attempt
#   <arch>.env, <arch>.progress     written by build-all
# A prefix counts only once it holds .velarix-done. The key hashes the Debian
# source version, the mingw toolchain version, the arch, the library's script
# (and its folder of extra files, if any) and the keys of the libraries it
# builds on, so editing one script rebuilds that library and its dependants.

set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C

VW_SCRIPTS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
VW_REPO_ROOT="$(cd "$VW_SCRIPTS_DIR/../.." && pwd)"
VW_TOOLCHAIN_FILE="$VW_REPO_ROOT/cmake/mingw-w64.cmake"
VW_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/velarix/windows"
VW_JOBS="$(nproc)"

# Library name -> Debian source package. googletest comes from the installed
# /usr/src/googletest, so its version is that of the binary package.
declare -A VW_SRC_PKG=(
  [googletest]=googletest
  [libjpeg-turbo]=libjpeg-turbo
  [libpng]=libpng1.6
  [freeimage]=freeimage
  [ffmpeg]=ffmpeg
  [qt]=qt6-base
)
# Library name -> the libraries of this cache it links against.
declare -A VW_DEPS=(
  [googletest]=""
  [libjpeg-turbo]=""
  [libpng]=""
  [freeimage]="libjpeg-turbo libpng"
  [ffmpeg]=""
  [qt]=""
)
VW_ORDER=(googletest libjpeg-turbo libpng freeimage ffmpeg qt)

# Source versions and keys are worked out once per run (apt-cache is slow) and
# kept in files, so the library scripts build-all starts share them.
if [[ -z "${VW_MEMO_DIR:-}" ]]; then
  VW_MEMO_DIR="$(mktemp -d /tmp/velarix-deps-memo.XXXXXX)"
  export VW_MEMO_DIR
  trap 'rm -rf "$VW_MEMO_DIR"' EXIT
fi

vw_log() { printf '[%s] %s\n' "$(date -u +%H:%M:%S)" "$*" >&2; }
vw_die() {
  vw_log "error: $*"
  exit 1
}

# Sets VW_ARCH, VW_TRIPLE and the compiler names from "--arch x86_64|i686".
vw_parse_arch() {
  VW_ARCH="${VELARIX_WIN_ARCH:-x86_64}"
  while (($#)); do
    case "$1" in
      --arch)
        (($# >= 2)) || vw_die "--arch needs x86_64 or i686"
        VW_ARCH="$2"
        shift 2
        ;;
      --arch=*)
        VW_ARCH="${1#--arch=}"
        shift
        ;;
      *) vw_die "unknown argument: $1 (usage: $(basename "$0") [--arch x86_64|i686])" ;;
    esac
  done
  case "$VW_ARCH" in
    x86_64) VW_DEB_ARCH=x86-64 ;;
    i686) VW_DEB_ARCH=i686 ;;
    *) vw_die "unsupported arch '$VW_ARCH' (x86_64 or i686)" ;;
  esac
  VW_TRIPLE="$VW_ARCH-w64-mingw32"
  VW_CC="$VW_TRIPLE-gcc-posix"
  VW_CXX="$VW_TRIPLE-g++-posix"
  VW_MINGW_ROOT="/usr/$VW_TRIPLE"
  export VELARIX_WIN_ARCH="$VW_ARCH"
  command -v "$VW_CXX" >/dev/null || vw_die "$VW_CXX not found (Debian package g++-mingw-w64-$VW_DEB_ARCH-posix)"
}

# The toolchain, as far as it changes what gets built: compiler version and the
# Debian versions of the compiler, runtime headers and binutils.
vw_toolchain_version() {
  local memo="$VW_MEMO_DIR/toolchain-$VW_ARCH"
  if [[ ! -f "$memo" ]]; then
    printf '%s %s' "$("$VW_CXX" -dumpfullversion)" "$(dpkg-query -W -f='${Package}=${Version} ' \
      "g++-mingw-w64-$VW_DEB_ARCH-posix" "mingw-w64-$VW_DEB_ARCH-dev" \
      "binutils-mingw-w64-$VW_DEB_ARCH" libz-mingw-w64-dev 2>/dev/null || true)" >"$memo"
  fi
  cat "$memo"
}

# The Debian version of a library's source: the candidate apt-get source would
# fetch, or the installed googletest package.
vw_source_version() {
  local lib="$1" pkg="${VW_SRC_PKG[$1]}" version memo="$VW_MEMO_DIR/version-$1"
  if [[ -s "$memo" ]]; then
    cat "$memo"
    return
  fi
  if [[ "$lib" == googletest ]]; then
    version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null)" ||
      vw_die "googletest is not installed (Debian package googletest)"
  else
    vw_ensure_deb_src
    # Versions the mirror listed but could not deliver are skipped (see
    # vw_fetch_source): the newest one that can be fetched is the one built.
    version="$(apt-cache showsrc "$pkg" 2>/dev/null | sed -n 's/^Version: //p' |
      grep -vxF -f <(cat "$VW_CACHE/src/$pkg.unavailable" 2>/dev/null; echo '') | vw_max_version)"
    [[ -n "$version" ]] || vw_die "no fetchable Debian source package $pkg"
  fi
  printf '%s' "$version" >"$memo"
  printf '%s' "$version"
}

vw_max_version() {
  local best="" v
  while read -r v; do
    if [[ -z "$best" ]] || dpkg --compare-versions "$v" gt "$best"; then best="$v"; fi
  done
  printf '%s' "$best"
}

vw_script_hash() {
  local lib="$1"
  {
    sha256sum <"$VW_SCRIPTS_DIR/$lib.sh"
    if [[ -d "$VW_SCRIPTS_DIR/$lib" ]]; then
      (cd "$VW_SCRIPTS_DIR/$lib" && find . -type f -print0 | sort -z | xargs -0 sha256sum)
    fi
  } | sha256sum | cut -c1-64
}

vw_key() {
  local lib="$1" dep deps_keys="" memo="$VW_MEMO_DIR/key-$VW_ARCH-$1"
  if [[ ! -s "$memo" ]]; then
    for dep in ${VW_DEPS[$lib]}; do deps_keys+="$dep=$(vw_key "$dep") "; done
    printf 'lib=%s\nsource=%s\ntoolchain=%s\narch=%s\nscript=%s\ndeps=%s\n' \
      "$lib" "$(vw_source_version "$lib")" "$(vw_toolchain_version)" "$VW_ARCH" \
      "$(vw_script_hash "$lib")" "$deps_keys" | sha256sum | cut -c1-12 | tr -d '\n' >"$memo"
  fi
  cat "$memo"
}

# The install prefix of a library for the current arch.
vw_prefix() {
  local lib="$1" version
  version="$(vw_source_version "$lib")"
  version="${version#*:}"
  printf '%s/%s/%s-%s-%s' "$VW_CACHE" "$VW_ARCH" "$lib" "${version//[^A-Za-z0-9.+-]/_}" "$(vw_key "$lib")"
}

vw_is_built() { [[ -f "$(vw_prefix "$1")/.velarix-done" ]]; }

# Adds a deb-src entry mirroring the deb one when apt knows no sources yet.
vw_ensure_deb_src() {
  [[ -n "${VW_DEB_SRC_OK:-}" ]] && return
  if ! apt-cache showsrc zlib >/dev/null 2>&1 || [[ -z "$(apt-cache showsrc zlib 2>/dev/null)" ]]; then
    local list=/etc/apt/sources.list.d/debian-src.sources
    if [[ ! -f "$list" && -f /etc/apt/sources.list.d/debian.sources ]]; then
      vw_log "adding $list"
      sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$list"
    elif [[ ! -f "$list" ]]; then
      grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | sed 's/^deb /deb-src /' >"${list%.sources}.list"
    fi
    apt-get update </dev/null >/dev/null || vw_die "apt-get update failed"
  fi
  VW_DEB_SRC_OK=1
}

# Unpacks a library's Debian source (with Debian's patches applied) once into
# src/, and sets VW_SRC_DIR. A version whose files the mirror answers with
# "404 Not Found" (a security update listed before the mirror carries it) is
# noted in src/<package>.unavailable and the next older one is fetched; the
# caller then recomputes its prefix.
vw_fetch_source() {
  local lib="$1" pkg="${VW_SRC_PKG[$1]}" version dir tmp
  while :; do
    version="$(vw_source_version "$lib")"
    dir="$VW_CACHE/src/$pkg-${version//[^A-Za-z0-9.+-]/_}"
    [[ -f "$dir/.velarix-unpacked" ]] && break
    vw_ensure_deb_src
    command -v dpkg-source >/dev/null || apt-get install -y dpkg-dev </dev/null >/dev/null
    tmp="$dir.tmp"
    rm -rf "$tmp" "$dir"
    mkdir -p "$tmp"
    vw_log "fetching Debian source $pkg=$version"
    if (cd "$tmp" && apt-get source "$pkg=$version" </dev/null >apt-source.log 2>&1); then
      :
    elif grep -q '404 *Not Found' "$tmp/apt-source.log"; then
      vw_log "the mirror lacks $pkg=$version; trying an older version"
      echo "$version" >>"$VW_CACHE/src/$pkg.unavailable"
      rm -rf "$tmp"
      rm -f "$VW_MEMO_DIR/version-$lib" "$VW_MEMO_DIR"/key-*
      continue
    else
      tail -n 20 "$tmp/apt-source.log" >&2
      vw_die "apt-get source $pkg=$version failed"
    fi
    local unpacked
    unpacked="$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n1)"
    [[ -n "$unpacked" ]] || vw_die "apt-get source $pkg unpacked nothing"
    mv "$unpacked" "$dir"
    rm -rf "$tmp"
    touch "$dir/.velarix-unpacked"
    break
  done
  VW_SRC_DIR="$dir"
}

# Runs the library's vw_build with PREFIX, SRC and BUILD set, logging to
# logs/<arch>-<lib>.log, under a lock so two runs never build the same library.
vw_main() {
  vw_parse_arch "$@"
  local lib="$VW_LIB" dep
  mkdir -p "$VW_CACHE/$VW_ARCH" "$VW_CACHE/logs"
  exec 9>"$VW_CACHE/$VW_ARCH/$lib.lock"
  if ! flock -n 9; then
    vw_log "$lib ($VW_ARCH) is being built by another run; waiting"
    flock 9
  fi
  PREFIX="$(vw_prefix "$lib")"
  if vw_is_built "$lib"; then
    vw_log "$lib ($VW_ARCH) cached: $PREFIX"
    return 0
  fi
  SRC=""
  if [[ "$lib" != googletest ]]; then
    vw_fetch_source "$lib"
    SRC="$VW_SRC_DIR"
    PREFIX="$(vw_prefix "$lib")"
    if vw_is_built "$lib"; then
      vw_log "$lib ($VW_ARCH) cached: $PREFIX"
      return 0
    fi
  fi
  for dep in ${VW_DEPS[$lib]}; do
    vw_is_built "$dep" || vw_die "$lib needs $dep built first ($VW_SCRIPTS_DIR/$dep.sh --arch $VW_ARCH)"
  done
  LOG="$VW_CACHE/logs/$VW_ARCH-$lib.log"
  BUILD="$VW_CACHE/$VW_ARCH/build/$lib"
  rm -rf "$PREFIX" "$BUILD"
  mkdir -p "$BUILD"
  export PATH VELARIX_WIN_ARCH="$VW_ARCH"
  local start=$SECONDS
  vw_log "building $lib $(vw_source_version "$lib") for $VW_ARCH into $PREFIX (log $LOG)"
  if ! (vw_build) >"$LOG" 2>&1 </dev/null; then
    vw_log "$lib failed; the last lines of $LOG:"
    tail -n 40 "$LOG" >&2
    exit 1
  fi
  local minutes size
  minutes="$(awk -v s=$((SECONDS - start)) 'BEGIN { printf "%.1f", s / 60 }')"
  size="$(du -sh "$PREFIX" | cut -f1)"
  printf '%s %s %s %s min %s\n' "$lib" "$(vw_source_version "$lib")" "$VW_ARCH" "$minutes" "$size" \
    >"$PREFIX/.velarix-done"
  rm -rf "$BUILD"
  vw_log "built $lib in $minutes min, $size installed"
}

# The prefixes of a library's dependencies, ;-separated, for CMake.
vw_dep_prefixes() {
  local lib="$1" dep out=""
  for dep in ${VW_DEPS[$lib]}; do out+="${out:+;}$(vw_prefix "$dep")"; done
  printf '%s' "$out"
}

# Configures a CMake project with the repository's mingw toolchain file.
vw_cmake_configure() {
  local src="$1"
  shift
  VELARIX_WIN_PREFIX_PATH="$(vw_dep_prefixes "$VW_LIB")" cmake -S "$src" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$VW_TOOLCHAIN_FILE" -DVELARIX_WIN_ARCH="$VW_ARCH" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DCMAKE_PREFIX_PATH="$(vw_dep_prefixes "$VW_LIB")" "$@"
}
