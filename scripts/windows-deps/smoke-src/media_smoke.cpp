// Checks the cached FreeImage and FFmpeg builds do the work Velarix asks of
// them: PNG, JPEG and BMP through memory, and an AVI with two msvideo1
// frames. Runs under Wine.
#include <FreeImage.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct BitmapDeleter {
  void operator()(FIBITMAP *bitmap) const { FreeImage_Unload(bitmap); }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;
struct MemoryDeleter {
  void operator()(FIMEMORY *memory) const { FreeImage_CloseMemory(memory); }
};
using Memory = std::unique_ptr<FIMEMORY, MemoryDeleter>;

constexpr int kWidth = 208;
constexpr int kHeight = 320;

Bitmap MakeGradient() {
  Bitmap bitmap(FreeImage_Allocate(kWidth, kHeight, 24));
  for (int y = 0; bitmap && y < kHeight; ++y) {
    BYTE *line = FreeImage_GetScanLine(bitmap.get(), y);
    for (int x = 0; x < kWidth; ++x) {
      line[x * 3 + FI_RGBA_RED] = static_cast<BYTE>(x);
      line[x * 3 + FI_RGBA_GREEN] = static_cast<BYTE>(y);
      line[x * 3 + FI_RGBA_BLUE] = 0x80;
    }
  }
  return bitmap;
}

struct ImageCase {
  FREE_IMAGE_FORMAT format;
  int flags;
  int tolerance;  // per channel; JPEG is lossy
};

class FreeImageRoundTrip : public ::testing::TestWithParam<ImageCase> {};

TEST_P(FreeImageRoundTrip, SavesAndLoadsThroughMemory) {
  const ImageCase c = GetParam();
  Bitmap source = MakeGradient();
  ASSERT_TRUE(source);
  Memory memory(FreeImage_OpenMemory());
  ASSERT_TRUE(FreeImage_SaveToMemory(c.format, source.get(), memory.get(), c.flags));
  ASSERT_TRUE(FreeImage_SeekMemory(memory.get(), 0, SEEK_SET));
  EXPECT_EQ(FreeImage_GetFileTypeFromMemory(memory.get(), 0), c.format);
  Bitmap loaded(FreeImage_LoadFromMemory(c.format, memory.get(), 0));
  ASSERT_TRUE(loaded);
  ASSERT_EQ(FreeImage_GetWidth(loaded.get()), static_cast<unsigned>(kWidth));
  ASSERT_EQ(FreeImage_GetHeight(loaded.get()), static_cast<unsigned>(kHeight));
  Bitmap rgb(FreeImage_ConvertTo24Bits(loaded.get()));
  ASSERT_TRUE(rgb);
  int worst = 0;
  for (int y = 0; y < kHeight; ++y) {
    const BYTE *a = FreeImage_GetScanLine(source.get(), y);
    const BYTE *b = FreeImage_GetScanLine(rgb.get(), y);
    for (int i = 0; i < kWidth * 3; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  }
  EXPECT_LE(worst, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, FreeImageRoundTrip,
                         ::testing::Values(ImageCase{FIF_PNG, PNG_DEFAULT, 0},
                                           ImageCase{FIF_BMP, BMP_DEFAULT, 0},
                                           ImageCase{FIF_JPEG, JPEG_QUALITYSUPERB, 24}));

TEST(FreeImagePlugins, LeftOutFormatsKeepTheirNumbersButDoNothing) {
  EXPECT_STREQ(FreeImage_GetFormatFromFIF(FIF_TIFF), "TIFF");
  EXPECT_STREQ(FreeImage_GetFormatFromFIF(FIF_PNG), "PNG");
  EXPECT_STREQ(FreeImage_GetFormatFromFIF(FIF_WEBP), "WEBP");
  EXPECT_FALSE(FreeImage_FIFSupportsWriting(FIF_TIFF));
  EXPECT_TRUE(FreeImage_FIFSupportsWriting(FIF_PNG));
  EXPECT_TRUE(FreeImage_FIFSupportsWriting(FIF_JPEG));
}

std::string TempPath(const char *name) {
  const char *dir = std::getenv("TEMP");
  return std::string(dir ? dir : ".") + "\\" + name;
}

TEST(FFmpeg, EncodersOfTheCompressorTableArePresent) {
  for (const char *name : {"msvideo1", "mjpeg", "mpeg4", "msmpeg4v2", "msmpeg4", "wmv1", "wmv2",
                           "cinepak", "huffyuv", "ffvhuff", "utvideo", "magicyuv", "ffv1", "zlib",
                           "zmbv", "png", "rawvideo", "flashsv", "mpeg2video", "flv", "h263p",
                           "snow"}) {
    EXPECT_NE(avcodec_find_encoder_by_name(name), nullptr) << name;
  }
  EXPECT_NE(av_guess_format("avi", nullptr, nullptr), nullptr);
  EXPECT_EQ(avcodec_find_encoder_by_name("libx264"), nullptr);
}

TEST(FFmpeg, WritesAnAviWithTwoMsvideo1Frames) {
  const std::string path = TempPath("velarix-smoke.avi");
  AVFormatContext *format = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&format, nullptr, "avi", path.c_str()), 0);
  std::unique_ptr<AVFormatContext, decltype(&avformat_free_context)> format_guard(
      format, avformat_free_context);
  const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MSVIDEO1);
  ASSERT_NE(codec, nullptr);
  AVCodecContext *raw_context = avcodec_alloc_context3(codec);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> context(
      raw_context, [](AVCodecContext *c) { avcodec_free_context(&c); });
  context->width = kWidth;
  context->height = kHeight;
  context->pix_fmt = AV_PIX_FMT_RGB555LE;
  context->time_base = AVRational{1, 10};
  context->framerate = AVRational{10, 1};
  ASSERT_EQ(avcodec_open2(context.get(), codec, nullptr), 0);
  AVStream *stream = avformat_new_stream(format, nullptr);
  ASSERT_NE(stream, nullptr);
  ASSERT_GE(avcodec_parameters_from_context(stream->codecpar, context.get()), 0);
  stream->time_base = context->time_base;
  ASSERT_GE(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(format, nullptr), 0);

  SwsContext *sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight,
                                   AV_PIX_FMT_RGB555LE, SWS_POINT, nullptr, nullptr, nullptr);
  ASSERT_NE(sws, nullptr);
  std::unique_ptr<SwsContext, decltype(&sws_freeContext)> sws_guard(sws, sws_freeContext);
  AVFrame *frame = av_frame_alloc();
  std::unique_ptr<AVFrame, void (*)(AVFrame *)> frame_guard(frame,
                                                            [](AVFrame *f) { av_frame_free(&f); });
  frame->format = AV_PIX_FMT_RGB555LE;
  frame->width = kWidth;
  frame->height = kHeight;
  ASSERT_GE(av_frame_get_buffer(frame, 0), 0);
  std::vector<uint8_t> bgr(kWidth * kHeight * 3);
  AVPacket *packet = av_packet_alloc();
  std::unique_ptr<AVPacket, void (*)(AVPacket *)> packet_guard(
      packet, [](AVPacket *p) { av_packet_free(&p); });
  int written = 0;
  auto drain = [&] {
    while (avcodec_receive_packet(context.get(), packet) == 0) {
      av_packet_rescale_ts(packet, context->time_base, stream->time_base);
      packet->stream_index = stream->index;
      ASSERT_GE(av_interleaved_write_frame(format, packet), 0);
      ++written;
    }
  };
  for (int n = 0; n < 2; ++n) {
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * (n + 1));
    const uint8_t *planes[] = {bgr.data()};
    const int strides[] = {kWidth * 3};
    ASSERT_GE(av_frame_make_writable(frame), 0);
    ASSERT_EQ(sws_scale(sws, planes, strides, 0, kHeight, frame->data, frame->linesize), kHeight);
    frame->pts = n;
    ASSERT_EQ(avcodec_send_frame(context.get(), frame), 0);
    drain();
  }
  ASSERT_EQ(avcodec_send_frame(context.get(), nullptr), 0);
  drain();
  ASSERT_EQ(av_write_trailer(format), 0);
  ASSERT_GE(avio_closep(&format->pb), 0);
  EXPECT_EQ(written, 2);

  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  ASSERT_GT(bytes.size(), 64u);
  EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
  EXPECT_EQ(std::string(bytes.data() + 8, 4), "AVI ");
  // avih's dwTotalFrames: RIFF(12) LIST hdrl(12) 'avih' size(8), then 4 dwords.
  uint32_t total_frames = 0;
  std::memcpy(&total_frames, bytes.data() + 32 + 16, sizeof total_frames);
  EXPECT_EQ(total_frames, 2u);
  std::remove(path.c_str());
}

}  // namespace
