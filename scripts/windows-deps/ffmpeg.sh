#!/usr/bin/env bash
# FFmpeg 5.1 from Debian's source as shared DLLs with pkg-config files:
# avformat with only the AVI muxer and the file protocol, avcodec with the
# encoders the recorder's compressor table offers that need no outside
# library and their decoders (the table lists only what can be played back),
# swscale and avutil. zlib (for the zlib, zmbv, png and flashsv
# encoders) is Debian's mingw one. LGPL: nothing here needs --enable-gpl.
VW_LIB=ffmpeg
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ENCODERS=(msvideo1 mjpeg mpeg4 msmpeg4v2 msmpeg4v3 wmv1 wmv2 cinepak huffyuv ffvhuff utvideo
  magicyuv ffv1 zlib zmbv png rawvideo flashsv mpeg2video flv h263p snow)

vw_build() {
  set -x
  command -v nasm >/dev/null || apt-get install -y nasm </dev/null
  local encoders
  encoders="$(IFS=,; printf '%s' "${ENCODERS[*]}")"
  cd "$BUILD"
  "$SRC/configure" --prefix="$PREFIX" --arch="$VW_ARCH" --target-os=mingw32 \
    --cross-prefix="$VW_TRIPLE-" --cc="$VW_CC" --cxx="$VW_CXX" --pkg-config=pkg-config \
    --enable-shared --disable-static --disable-programs --disable-doc --disable-debug \
    --disable-everything --disable-autodetect --enable-w32threads --enable-zlib \
    --disable-avdevice --disable-avfilter --disable-swresample --disable-postproc \
    --disable-network --enable-avformat --enable-avcodec --enable-swscale \
    --enable-muxer=avi --enable-protocol=file --enable-encoder="$encoders" \
    --enable-decoder="$encoders"
  # configure quietly drops a component it cannot build; fail instead.
  local encoder config
  config="$(cat config.h config_components.h)"
  for encoder in "${ENCODERS[@]}"; do
    grep -q "^#define CONFIG_${encoder^^}_ENCODER 1" <<<"$config" ||
      { echo "encoder $encoder not enabled"; exit 1; }
    grep -q "^#define CONFIG_${encoder^^}_DECODER 1" <<<"$config" ||
      { echo "decoder $encoder not enabled"; exit 1; }
  done
  grep -q '^#define CONFIG_AVI_MUXER 1' <<<"$config"
  grep -q '^#define CONFIG_FILE_PROTOCOL 1' <<<"$config"
  grep -q '^#define CONFIG_ZLIB 1' <<<"$config"
  make -j"$VW_JOBS"
  make install
  ls "$PREFIX"/bin/avformat-*.dll "$PREFIX"/bin/avcodec-*.dll "$PREFIX"/bin/swscale-*.dll \
    "$PREFIX"/bin/avutil-*.dll
  ls "$PREFIX"/lib/pkgconfig/libavformat.pc
}

vw_main "$@"
