// Writes the fuzzers' seed corpora: valid phone streams, frame records in
// every pixel format and JPEG strips, each also cut short, so that every
// fuzzer starts from inputs that already reach deep into the code.
//
// Usage: make_fuzz_corpus <corpus folder>  (writes link/, link_chunking/,
// frame_record/, jpeg_strip/, avi_repair/ and settings_file/ inside it)
#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "AviBuilder.h"
#include "LinkFuzzInput.h"
#include "SettingsFuzzInput.h"
#include "StreamBuilder.h"

namespace {

using namespace velarix;
using namespace velarix::test;
namespace fz = velarix::fuzz;
namespace fs = std::filesystem;

void Write(const fs::path& dir, const std::string& name, const ByteVec& bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

ByteVec Prefix(const ByteVec& bytes, std::size_t n) {
    return ByteVec(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

// Horizontal colour bands with a gradient, so the JPEG has real detail.
std::vector<std::uint32_t> Picture(int width, int height) {
    std::vector<std::uint32_t> px(std::size_t(width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto r = static_cast<std::uint32_t>(y * 255 / height);
            const auto g = static_cast<std::uint32_t>(x * 255 / width);
            const std::uint32_t b = (y / 4) % 2 ? 0xC0u : 0x20u;
            px[std::size_t(y * width + x)] = (r << 16) | (g << 8) | b;
        }
    }
    return px;
}

ByteVec ProgressiveJpeg(const std::vector<std::uint32_t>& pixels, int width, int height) {
    return EncodeJpeg(pixels, width, height, 75, false, JPEG_PROGRESSIVE);
}

// The JPEG with an Exif block and a comment after its SOI marker: segments the
// strip decoder must leave out of what FreeImage reads.
ByteVec WithMetadata(const ByteVec& jpeg) {
    const ByteVec app1 = {0xFF, 0xE1, 0x00, 0x10, 'E',  'x', 'i', 'f', 0,
                          0,    'I',  'I',  0x2A, 0x00, 8,   0,   0,   0};
    const ByteVec com = {0xFF, 0xFE, 0x00, 0x09, 'v', 'e', 'l', 'a', 'r', 'i', 'x'};
    ByteVec out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), com.begin(), com.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

// A frame record in the pixel format of `mode` with a few changed lines.
ByteVec SampleRecord(int mode, std::optional<std::uint8_t> flip,
                     std::optional<std::uint32_t> frameValue, std::uint32_t seed) {
    const std::size_t n = LineBytes(mode & 0x1F);
    return FrameRecord(static_cast<std::uint8_t>(mode),
                       {{0, RandomBytes(n, seed)},
                        {1, RandomBytes(n, seed + 1)},
                        {150, RandomBytes(n, seed + 2)},
                        {319, RandomBytes(n, seed + 3)}},
                       flip, frameValue);
}

// A phone stream with every kind of message, ending with the phone's Bye.
struct Streams {
    ByteVec frames;    // sync and the frame messages
    ByteVec data;      // ping, clipboard, status, events, unknown types
    ByteVec resync;    // Bye with a payload, then the pattern again
    ByteVec farewell;  // the bare Bye
    ByteVec All() const { return Concat({frames, data, resync, farewell}); }
};

Streams SampleStreams() {
    Streams s;
    s.frames = SyncBytes();
    for (int code = 0; code <= 4; ++code) {
        const ByteVec record = SampleRecord(code, std::uint8_t{0}, 1000u + std::uint32_t(code),
                                            10u * std::uint32_t(code));
        s.frames = Concat({s.frames, Message(0, record)});
    }
    s.frames = Concat({s.frames, Message(0, SampleRecord(1, std::uint8_t{1}, 2000, 77))});
    s.frames =
        Concat({s.frames, Message(1, Deflate(SampleRecord(0, std::nullopt, std::nullopt, 88)))});
    s.frames = Concat(
        {s.frames, Message(2, JpegPayload(100, 3000, EncodeJpeg(Picture(208, 16), 208, 16, 50)))});
    s.frames = Concat(
        {s.frames,
         Message(2, JpegPayload(304, 3001, EncodeJpeg(Picture(208, 16), 208, 16, 50, true)))});

    const ByteVec text = {0x00, 0x05, 'h', 'e', 'l', 'l', 'o'};
    s.data = Concat({Message(7), Message(10, text), Message(128, Be32(4096)),
                     Message(129, Be32(0x20)), Message(130, {0}), Message(130, {1}),
                     Message(131, {9, 9}), Message(42, {1, 2, 3}), Message(7)});
    s.resync = Concat({Message(255, {1}), SyncBytes(), Message(7)});
    s.farewell = Message(255);
    return s;
}

// Encodes reads for fuzz_link (see LinkFuzzInput.h).
class LinkInput {
public:
    explicit LinkInput(std::uint8_t config) { bytes_.push_back(config); }

    LinkInput& Read(const ByteVec& data, std::size_t from, std::size_t n) {
        if (n == 0) return *this;
        if (n <= fz::kShortReadLimit) {
            bytes_.push_back(static_cast<std::uint8_t>(n - 1));
        } else {
            bytes_.push_back(fz::kLongRead);
            bytes_.push_back(static_cast<std::uint8_t>((n - 1) >> 8));
            bytes_.push_back(static_cast<std::uint8_t>(n - 1));
        }
        bytes_.insert(bytes_.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                      data.begin() + static_cast<std::ptrdiff_t>(from + n));
        return *this;
    }
    // The whole of `data`, in reads of at most `most` bytes (65536 at most).
    LinkInput& Reads(const ByteVec& data, std::size_t most) {
        for (std::size_t pos = 0; pos < data.size(); pos += most)
            Read(data, pos, std::min(most, data.size() - pos));
        return *this;
    }
    // The whole of `data`, in reads of sizes 1 .. 240 picked by `seed`.
    LinkInput& MixedReads(const ByteVec& data, std::uint32_t seed) {
        const ByteVec sizes = RandomBytes(data.size(), seed);
        std::size_t pos = 0;
        for (std::size_t i = 0; pos < data.size(); ++i) {
            const std::size_t n = std::min<std::size_t>(sizes[i] % 240u + 1u, data.size() - pos);
            Read(data, pos, n);
            pos += n;
        }
        return *this;
    }
    LinkInput& Step(fz::LinkStep step, std::initializer_list<std::uint8_t> args = {}) {
        bytes_.push_back(step);
        bytes_.insert(bytes_.end(), args);
        return *this;
    }
    const ByteVec& Bytes() const { return bytes_; }

private:
    ByteVec bytes_;
};

void WriteLinkCorpus(const fs::path& dir) {
    const Streams s = SampleStreams();
    const ByteVec all = s.All();
    const std::uint8_t options = fz::kSyncSendsOptions;

    Write(dir, "valid_stream_one_read_per_part",
          LinkInput(options)
              .Reads(Concat({s.frames, s.data, Message(255, {1})}), 65536)
              .Reads(Concat({SyncBytes(), Message(7), s.farewell}), 65536)
              .Bytes());
    Write(dir, "valid_stream_byte_reads", LinkInput(options).Reads(all, 1).Bytes());
    Write(dir, "valid_stream_mixed_reads", LinkInput(options).MixedReads(all, 1).Bytes());
    Write(dir, "valid_stream_partial_sends",
          LinkInput(options | fz::kConnectNotified | 0x40).MixedReads(all, 2).Bytes());
    Write(dir, "valid_stream_one_byte_sends",
          LinkInput(options).Step(fz::kPartialSends, {1}).Reads(all, 7).Bytes());
    Write(dir, "valid_stream_truncated_in_sync",
          LinkInput(options).Reads(Prefix(all, 7), 3).Bytes());
    Write(dir, "valid_stream_truncated_in_frame",
          LinkInput(options).MixedReads(Prefix(all, s.frames.size() / 2), 3).Bytes());
    Write(dir, "valid_stream_truncated_in_data",
          LinkInput(options).MixedReads(Prefix(all, s.frames.size() + 20), 4).Bytes());

    // Data messages only, small enough for quick mutation.
    const ByteVec small = Concat({SyncBytes(), s.data, s.resync, s.farewell});
    Write(dir, "data_messages_mixed_reads", LinkInput(options).MixedReads(small, 5).Bytes());
    Write(dir, "data_messages_reads_arrive_during_sync",
          LinkInput(options | fz::kSyncFeedsNextRead).Reads(small, 9).Bytes());

    const ByteVec garbage = RandomBytes(1500, 6);
    Write(dir, "garbage_then_sync",
          LinkInput(options)
              .Reads(Concat({garbage, SyncBytes(), Message(7), Message(128, Be32(5))}), 200)
              .Bytes());
    Write(dir, "bad_length_then_resync",
          LinkInput(options)
              .Reads(
                  Concat({SyncBytes(), Be32(3), SyncBytes(), Message(7), Be32(300000), Message(7)}),
                  11)
              .Read(SyncBytes(), 0, 10)
              .Read(Message(129, Be32(0x20)), 0, 9)
              .Bytes());

    // Connections that end and begin again, sends that fail, a view that comes and goes.
    const ByteVec sync = SyncBytes();
    const ByteVec frame = Message(0, SampleRecord(4, std::uint8_t{1}, 5, 3));
    Write(dir, "peer_close_and_reconnect",
          LinkInput(options)
              .Reads(Concat({sync, Message(7)}), 16)
              .Step(fz::kPeerClose, {4})
              .Step(fz::kReconnect, {1})
              .Reads(Concat({sync, Message(128, Be32(1))}), 5)
              .Step(fz::kEmptyRead)
              .Step(fz::kReconnect, {0})
              .Reads(Concat({sync, Message(7)}), 3)
              .Step(fz::kReadFailed)
              .Bytes());
    Write(dir, "failing_sends",
          LinkInput(options)
              .Reads(sync, 10)
              .Step(fz::kToggleFailSends)
              .Reads(Message(7), 5)
              .Step(fz::kReconnect, {1})
              .Reads(sync, 10)
              .Step(fz::kPartialSends, {3})
              .Reads(Message(7), 5)
              .Bytes());
    Write(dir, "view_detached_for_frames",
          LinkInput(options)
              .Reads(sync, 10)
              .Step(fz::kDetachView)
              .Reads(frame, 100)
              .Step(fz::kAttachView)
              .Step(fz::kResizeScreen, {100})
              .Reads(frame, 100)
              .Reads(Message(2, JpegPayload(0, 1, EncodeJpeg(Picture(208, 8), 208, 8, 30))), 65536)
              .Bytes());
    Write(dir, "pc_sends_between_reads",
          LinkInput(options)
              .Step(fz::kPcSends, {0, 2, 42})
              .Reads(sync, 4)
              .Step(fz::kPcSends, {1, 0, 0x12, 0x34})
              .Step(fz::kPcSends, {2, 1, 0, 10, 0, 20})
              .Step(fz::kPcSends, {3, 3, 'a', 'b', 'c'})
              .Step(fz::kPcSends, {4, 2, 'x', 'y'})
              .Step(fz::kPcSends, {5, 0})
              .Step(fz::kPcSends, {7, 1, 2, 0, 50, 2, 2})
              .Step(fz::kPcSends, {8, 1})
              .Reads(Message(7), 6)
              .Step(fz::kPcSends, {6, 0})
              .Step(fz::kPcCloses)
              .Bytes());
    Write(dir, "input_arrives_while_sending",
          LinkInput(options)
              .Step(fz::kPumpOnSend, {0})
              .Reads(sync, 10)
              .Reads(Concat({Message(128, Be32(3)), Message(7)}), 14)
              .Step(fz::kPumpOnSend, {0})
              .Reads(Message(7), 5)
              .Reads(Message(129, Be32(1)), 9)
              .Step(fz::kPumpOnSend, {2})
              .Reads(Message(7), 5)
              .Bytes());
    Write(dir, "repeated_reads",
          LinkInput(options)
              .Reads(sync, 10)
              .Reads(Message(7), 5)
              .Step(fz::kRepeatRead, {0, 40})
              .Step(fz::kResetSync)
              .Reads(Concat({RandomBytes(100, 9), sync}), 110)
              .Step(fz::kRepeatRead, {0, 20})
              .Bytes());
    Write(dir, "link_recreated",
          LinkInput(options)
              .Reads(Concat({sync, Message(7)}), 15)
              .Step(fz::kRecreateLink)
              .Step(fz::kReconnect, {1})
              .Reads(Concat({sync, Message(7)}), 15)
              .Bytes());
    Write(dir, "sync_callback_closes_link",
          LinkInput(options | fz::kSyncClosesLink).Reads(Concat({sync, Message(7)}), 15).Bytes());
}

// Inputs for fuzz_link_chunking: read sizes first, then the stream.
void WriteChunkingCorpus(const fs::path& dir) {
    const Streams s = SampleStreams();
    const ByteVec small = Concat({SyncBytes(), s.data, s.farewell});
    Write(dir, "data_reads_1_7_200", Concat({{0x02 | 0x08, 0, 6, 199}, small}));
    Write(dir, "data_reads_3", Concat({{0x00, 2}, small}));
    Write(dir, "frames_reads_64_255", Concat({{0x01 | 0x10, 63, 254}, s.frames}));
    Write(dir, "garbage_then_data", Concat({{0x00, 99}, RandomBytes(1200, 4), small}));
    Write(dir, "bye_with_payload",
          Concat({{0x01, 4, 13}, SyncBytes(), Message(7), s.resync, Message(7)}));
}

void WriteFrameRecordCorpus(const fs::path& dir) {
    for (int code = 0; code <= 4; ++code) {
        const ByteVec record =
            SampleRecord(code, std::uint8_t{0}, 0x01020304, std::uint32_t(code) * 7);
        const std::string name = "code" + std::to_string(code);
        Write(dir, name + "_lines_flip_open_frame_value", record);
        Write(dir, name + "_cut_in_a_line", Prefix(record, 5 + 2 + LineBytes(code) / 2));
        Write(dir, name + "_cut_in_the_tail", Prefix(record, record.size() - 2));
    }
    Write(dir, "code1_flip_closed", SampleRecord(1, std::uint8_t{1}, 9, 40));
    Write(dir, "code2_no_tail", SampleRecord(2, std::nullopt, std::nullopt, 41));
    Write(dir, "code4_flip_only", FrameRecord(4, {{12, RandomBytes(52, 42)}}, std::uint8_t{1}));
    Write(dir, "code3_mode_high_bits", SampleRecord(0xE3, std::uint8_t{0}, 1, 43));
    Write(
        dir, "code0_line_index_ends_list",
        FrameRecord(
            0, {{5, RandomBytes(312, 44)}, {320, RandomBytes(312, 45)}, {6, RandomBytes(312, 46)}},
            std::uint8_t{0}, 2));
    std::vector<LineRecord> every;
    for (int line = 0; line < 320; ++line)
        every.push_back({line, RandomBytes(52, 100u + std::uint32_t(line))});
    Write(dir, "code4_every_line", FrameRecord(4, every, std::uint8_t{0}, 3));
    Write(dir, "header_only", FrameRecord(0, {}));
    Write(dir, "wrong_size",
          FrameRecord(0, {{0, RandomBytes(312, 47)}}, std::nullopt, std::nullopt, 176, 208));
    Write(dir, "too_short", {0x00, 0xD0, 0x01});
}

void WriteJpegStripCorpus(const fs::path& dir) {
    const ByteVec colour = JpegPayload(100, 7, EncodeJpeg(Picture(208, 16), 208, 16, 60));
    const ByteVec grey = JpegPayload(304, 8, EncodeJpeg(Picture(208, 16), 208, 16, 60, true));
    const ByteVec progressive = JpegPayload(0, 9, ProgressiveJpeg(Picture(208, 16), 208, 16));
    const ByteVec metadata =
        JpegPayload(20, 10, WithMetadata(EncodeJpeg(Picture(208, 8), 208, 8, 40)));
    const ByteVec tall = JpegPayload(0, 11, EncodeJpeg(Picture(208, 320), 208, 320, 20));
    Write(dir, "colour_208x16_top100", colour);
    Write(dir, "grey_208x16_top304", grey);
    Write(dir, "progressive_208x16_top0", progressive);
    Write(dir, "exif_and_comment_208x8", metadata);
    Write(dir, "colour_208x320_full_screen", tall);
    Write(dir, "colour_208x16_does_not_fit",
          JpegPayload(310, 12, EncodeJpeg(Picture(208, 16), 208, 16, 40)));
    Write(dir, "colour_176x16_narrow",
          JpegPayload(0, 13, EncodeJpeg(Picture(176, 16), 176, 16, 40)));
    Write(dir, "colour_cut_in_header", Prefix(colour, 6 + 100));
    Write(dir, "colour_cut_in_scan", Prefix(colour, colour.size() * 3 / 4));
    Write(dir, "grey_cut_in_scan", Prefix(grey, grey.size() / 2));
    Write(dir, "progressive_cut_in_scan", Prefix(progressive, progressive.size() * 2 / 3));
    Write(dir, "header_only", Prefix(colour, 6));
}

void WriteSettingsFileCorpus(const fs::path& dir) {
    const std::string usual =
        "# Velarix settings.\n[General]\nCompression=int:2\nTitle=str:\"Line one\\nSaid "
        "\\\"hi\\\"\"\n"
        "\n[Recent]\nLast=str:\"/home/someone/clip.avi\"\n";
    const auto write = [&](const std::string& name, const fz::SettingsFuzzInput& input) {
        const std::string bytes = input.Encode();
        Write(dir, name, ByteVec(bytes.begin(), bytes.end()));
    };
    write("new_file", {true, 0, "General", "Compression", std::string("\0\0\0\2", 4), ""});
    write("replace_number",
          {true, 30, "General", "Compression", std::string("\0\0\1\0", 4), usual});
    write("new_key_in_section", {false, 50, "General", "Zoom", "2x", usual});
    write("new_section", {false, 70, "Window", "Place", "10,20", usual});
    write("escaped_names_and_bytes",
          {false, 20, "Odd [section] =", "key%with\nbreaks", "caf\xC3\xA9 \xFF\x01\ttab", usual});
    write("cut_short_last_line", {true, 5, "General", "Compression", std::string("\0\0\0\7", 4),
                                  "[General]\nCompression=int:12"});
    write("duplicates_and_blocks",
          {false, 40, "General", "Title", "new",
           "[General]\nTitle=str:\"a\"\n[Other]\nTitle=str:\"b\"\n[General]\nTitle=str:\"c\"\n"});
    write("damaged_lines",
          {false, 10, "General", "Title", "x",
           "junk line\n[General\nTitle=str:\"unterminated\n\r\n;c\nKey = int: 7 \r\n"
           "=no key\n[%zz]\nA=int:99999999999\n"});
}

}  // namespace

// Recordings as a kill leaves them, cut off at the places that matter: in
// the header, between frames, inside a frame; damaged in the middle (a
// zeroed stretch, a garbled frame size) or with garbage at the end; and one
// already finished.
void WriteAviRepairCorpus(const fs::path& dir) {
    const auto bytes = [](const std::string& text) { return ByteVec(text.begin(), text.end()); };
    const std::string frames =
        Frames(4, 33) + Chunk("00dc", "") + Chunk("JUNK", "pad") + Frames(2, 8);
    const std::string whole = UnfinishedAvi(frames);
    const std::size_t header = UnfinishedAvi("").size();
    Write(dir, "unfinished", bytes(whole));
    Write(dir, "no_frames", bytes(UnfinishedAvi("")));
    Write(dir, "cut_in_header", bytes(whole.substr(0, 60)));
    Write(dir, "cut_after_chunk_head", bytes(whole.substr(0, header + 6)));
    Write(dir, "cut_in_frame", bytes(whole.substr(0, header + 50)));
    Write(dir, "cut_in_last_frame", bytes(whole.substr(0, whole.size() - 3)));
    Write(dir, "index_started", bytes(whole + "idx1" + Le32(0xFFFFFFFFu) + "00dc"));
    std::string zeroed = whole;
    zeroed.replace(header + 41, 40, std::string(40, '\0'));
    Write(dir, "zeroed_stretch", bytes(zeroed));
    std::string garbled = whole;
    garbled.replace(header + 4, 4, Le32(0x00FFFFF0u));
    Write(dir, "garbled_size", bytes(garbled));
    Write(dir, "garbage_tail", bytes(whole + std::string(24, 'z')));
    Write(dir, "nested_stream_lists", bytes(UnfinishedAvi(Frames(1, 4), NestedStreamLists(3))));
    std::string finished = whole;
    finished.replace(4, 4, Le32(static_cast<std::uint32_t>(whole.size() - 8)));
    Write(dir, "finished", bytes(finished));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_fuzz_corpus <corpus folder>\n";
        return 2;
    }
    try {
        const fs::path root = argv[1];
        WriteLinkCorpus(root / "link");
        WriteChunkingCorpus(root / "link_chunking");
        WriteFrameRecordCorpus(root / "frame_record");
        WriteJpegStripCorpus(root / "jpeg_strip");
        WriteAviRepairCorpus(root / "avi_repair");
        WriteSettingsFileCorpus(root / "settings_file");
    } catch (const std::exception& e) {
        std::cerr << "make_fuzz_corpus: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
