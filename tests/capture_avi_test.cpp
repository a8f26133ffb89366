// The AVI writer: files checked with ffprobe and decoded again with ffmpeg,
// frame positions with their gaps, the start failures and their texts, a disk
// that fills up, the quality mapping, and a recording killed mid-way that
// the next start repairs.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AviBuilder.h"
#include "capture/AviWriter.h"
#include "capture/CodecTable.h"
#include "capture/FileHandle.h"
#include "capture/RecordWorker.h"
#include "capture/Recorder.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 208;
constexpr int kHeight = 320;
using Screen = std::vector<std::uint32_t>;

// A screen with detail in every channel, different for every seed.
Screen MakeScreen(std::uint32_t seed) {
    Screen pixels(static_cast<std::size_t>(kWidth) * kHeight);
    for (std::uint32_t y = 0; y < kHeight; ++y)
        for (std::uint32_t x = 0; x < kWidth; ++x)
            pixels[y * kWidth + x] = ((x * 7 + seed) & 0xFF) << 16 |
                                     ((y * 3 + seed * 5) & 0xFF) << 8 | (((x ^ y) + seed) & 0xFF);
    return pixels;
}

// Standard output of a shell command, or nothing when it fails.
std::optional<std::string> Shell(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

bool HaveTools() {
    return std::system("command -v ffprobe ffmpeg >/dev/null 2>&1") == 0;
}

// One ffprobe field of the video stream ("codec_name", "nb_frames", ...).
std::string Probe(const std::string& file, const std::string& field) {
    const auto out = Shell("ffprobe -v error -select_streams v:0 -show_entries stream=" + field +
                           " -of default=nw=1:nk=1 '" + file + "'");
    return out ? out->substr(0, out->find('\n')) : "<failed>";
}

// The positions of the frames that carry data (decoding times: a reader
// that parses the frames leaves the presentation time open).
std::string PacketPositions(const std::string& file) {
    const auto out = Shell("ffprobe -v error -show_entries packet=dts -of csv=p=0 '" + file + "'");
    std::string positions = out.value_or("<failed>");
    for (char& c : positions)
        if (c == '\n') c = ' ';
    return positions;
}

// The key-frame mark of every frame that carries data, one line each.
std::string PacketFlags(const std::string& file) {
    return Shell("ffprobe -v error -show_entries packet=flags -of csv=p=0 '" + file + "'")
        .value_or("<failed>");
}

// Whether ffmpeg decodes every frame of the file without an error.
bool Plays(const std::string& file) {
    return Shell("ffmpeg -v error -xerror -i '" + file + "' -f null -").has_value();
}

// Every frame that carries data, decoded as top-down RGB.
std::optional<std::string> DecodeRgb(const std::string& file) {
    return Shell("ffmpeg -v error -i '" + file +
                 "' -vsync passthrough -f rawvideo -pix_fmt rgb24 -");
}

std::string ToTopDownRgb(const Screen& screen) {
    std::string rgb;
    for (int line = 0; line < kHeight; ++line) {
        const std::uint32_t* row = screen.data() + (kHeight - 1 - line) * kWidth;
        for (int x = 0; x < kWidth; ++x) {
            rgb.push_back(static_cast<char>(row[x] >> 16));
            rgb.push_back(static_cast<char>(row[x] >> 8));
            rgb.push_back(static_cast<char>(row[x]));
        }
    }
    return rgb;
}

// Byte for byte, without printing half a megabyte on a mismatch.
::testing::AssertionResult SameRgb(const std::optional<std::string>& got, const std::string& want) {
    if (!got) return ::testing::AssertionFailure() << "nothing decoded";
    if (got->size() != want.size())
        return ::testing::AssertionFailure() << got->size() << " bytes instead of " << want.size();
    const auto diff = std::mismatch(got->begin(), got->end(), want.begin());
    if (diff.first != got->end())
        return ::testing::AssertionFailure() << "differs at byte " << (diff.first - got->begin());
    return ::testing::AssertionSuccess();
}

class AviTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTools()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
        std::string dir = (fs::temp_directory_path() / "velarix-avi-XXXXXX").string();
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        CodecTable::Instance().EnumerateCodecs();
        ASSERT_GT(CodecTable::Instance().Count(), 0);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string In(const std::string& name) const { return dir_ + "/" + name; }

    // Chooses a listed encoder by FFmpeg name; false when it is not listed.
    bool Use(const std::string& encoder) const {
        const CodecTable& table = CodecTable::Instance();
        for (int i = 0; i < table.Count(); ++i) {
            if (table.Entry(i).name != encoder) continue;
            store_.WriteString("AVI", "Codec", CodecTable::FormatCodecLabel(table.Entry(i)));
            return true;
        }
        return false;
    }

    // Opens `file` and writes one tick per entry: a screen, or a skip.
    std::int32_t Record(const std::string& file, const std::vector<const Screen*>& ticks,
                        CAviWriter& writer) const {
        writer.SetFormat(MakeRecordFormat(kWidth, kHeight));
        writer.SetFileName(file);
        if (const std::int32_t opened = writer.Open(); opened != 0) return opened;
        for (const Screen* tick : ticks) {
            if (tick == nullptr) {
                writer.SkipFrame();
            } else if (const std::int32_t added = writer.AddFrame(*tick); added != 0) {
                return added;
            }
        }
        writer.Close();
        return 0;
    }
    std::int32_t Record(const std::string& file, const std::vector<const Screen*>& ticks) const {
        CAviWriter writer(store_);
        return Record(file, ticks, writer);
    }

    std::string dir_;
    SettingsStore store_{std::make_shared<MemorySettingsBackend>()};
    const Screen a_ = MakeScreen(1);
    const Screen b_ = MakeScreen(90);
};

// --- Files ------------------------------------------------------------------

TEST_F(AviTest, StreamHasTheCodecSizeAndRate) {
    ASSERT_TRUE(Use("msvideo1"));
    store_.WriteInt("AVI", "FPS", 30);
    ASSERT_EQ(Record(In("clip.avi"), {&a_}), 0);
    EXPECT_EQ(Probe(In("clip.avi"), "codec_name"), "msvideo1");
    EXPECT_EQ(Probe(In("clip.avi"), "codec_tag_string"), "MSVC");
    EXPECT_EQ(Probe(In("clip.avi"), "width"), "208");
    EXPECT_EQ(Probe(In("clip.avi"), "height"), "320");
    EXPECT_EQ(Probe(In("clip.avi"), "r_frame_rate"), "30/1");
}

TEST_F(AviTest, SkippedTicksKeepTheirPlaceInTheTimeline) {
    // Ten ticks, the screen changing before the fifth.
    CAviWriter writer(store_);
    ASSERT_EQ(
        Record(In("ticks.avi"),
               {&a_, nullptr, nullptr, nullptr, &b_, nullptr, nullptr, nullptr, nullptr, nullptr},
               writer),
        0);
    writer.Close();  // a second Close releases nothing more
    EXPECT_EQ(writer.FrameCount(), 10);
    EXPECT_EQ(PacketPositions(In("ticks.avi")), "0 4 ");
    EXPECT_EQ(Probe(In("ticks.avi"), "nb_frames"), "10");
    EXPECT_EQ(Probe(In("ticks.avi"), "duration"), "2.000000");
}

TEST_F(AviTest, LosslessEncodersGiveTheScreenBack) {
    int checked = 0;
    for (const char* encoder : {"ffv1", "huffyuv", "utvideo", "zlib", "png", "rawvideo"}) {
        if (!Use(encoder)) continue;
        SCOPED_TRACE(encoder);
        const std::string file = In(std::string(encoder) + ".avi");
        ASSERT_EQ(Record(file, {&a_, nullptr, &b_}), 0);
        EXPECT_TRUE(SameRgb(DecodeRgb(file), ToTopDownRgb(a_) + ToTopDownRgb(b_)));
        EXPECT_EQ(PacketPositions(file), "0 2 ");
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(AviTest, EveryListedEncoderWritesAPlayableFile) {
    const CodecTable& table = CodecTable::Instance();
    for (int i = 0; i < table.Count(); ++i) {
        const std::string name = table.Entry(i).name;
        SCOPED_TRACE(name);
        ASSERT_TRUE(Use(name));
        const std::string file = In(name + ".avi");
        ASSERT_EQ(Record(file, {&a_, nullptr, &b_, &a_}), 0);
        EXPECT_EQ(PacketPositions(file), "0 2 3 ");
        EXPECT_EQ(PacketFlags(file), "K_\nK_\nK_\n");  // every frame a key frame
        EXPECT_EQ(Probe(file, "nb_frames"), "4");
        EXPECT_TRUE(Plays(file));
    }
}

TEST_F(AviTest, LabelMatchingNoCompressorUsesTheFirst) {
    store_.WriteString("AVI", "Codec", "NONE-1");
    ASSERT_EQ(Record(In("first.avi"), {&a_}), 0);
    EXPECT_EQ(Probe(In("first.avi"), "codec_name"), "msvideo1");
}

TEST_F(AviTest, SavedStateReachesTheEncoder) {
    if (!Use("libx264")) GTEST_SKIP() << "libx264 not listed";
    const std::string label = store_.GetString("AVI", "Codec", "");
    // "profile=baseline" as hex.
    store_.WriteString("AVI", label, "70726F66696C653D626173656C696E65");
    ASSERT_EQ(Record(In("baseline.avi"), {&a_}), 0);
    EXPECT_EQ(Probe(In("baseline.avi"), "profile"), "Constrained Baseline");
}

TEST_F(AviTest, StateOfSevenCharactersIsThreeBytes) {
    store_.WriteString("AVI", "Codec", "MSVC-1");
    store_.WriteString("AVI", "MSVC-1", "ABCDEF1");
    CAviWriter writer(store_);
    ASSERT_EQ(Record(In("state.avi"), {&a_}, writer), 0);
    EXPECT_EQ(writer.CodecState(), (std::vector<std::uint8_t>{0xAB, 0xCD, 0xEF}));
}

TEST_F(AviTest, HigherQualityKeepsMoreOfTheScreen) {
    ASSERT_TRUE(Use("mpeg4"));
    store_.WriteInt("AVI", "QualityEnable", 1);
    store_.WriteInt("AVI", "Quality", 0);
    ASSERT_EQ(Record(In("low.avi"), {&a_, &b_}), 0);
    store_.WriteInt("AVI", "Quality", 100);
    ASSERT_EQ(Record(In("high.avi"), {&a_, &b_}), 0);
    EXPECT_GT(fs::file_size(In("high.avi")), 2 * fs::file_size(In("low.avi")));
}

// --- Start failures -----------------------------------------------------------

TEST_F(AviTest, FolderThatCannotHoldTheFileIsAFileOpenError) {
    for (const std::string& path : {In("missing/clip.avi"), dir_}) {
        CAviWriter writer(store_);
        EXPECT_EQ(Record(path, {}, writer), kAviErrFileOpen);
        EXPECT_EQ(writer.ErrorText(), "Failed to initialize AVI Engine (FILE OPEN ERROR).");
    }
}

TEST_F(AviTest, FileBeingRecordedCannotBeOpenedAgain) {
    CAviWriter first(store_);
    first.SetFormat(MakeRecordFormat(kWidth, kHeight));
    first.SetFileName(In("busy.avi"));
    ASSERT_EQ(first.Open(), 0);
    CAviWriter second(store_);
    EXPECT_EQ(Record(In("busy.avi"), {}, second), kAviErrFileOpen);
}

TEST_F(AviTest, CompressorRefusingTheFormat) {
    ASSERT_TRUE(Use("msvideo1"));  // blocks of 4 × 4 pixels only
    for (const BitmapInfoHeader& format : {MakeRecordFormat(210, 322), [] {
                                               BitmapInfoHeader f =
                                                   MakeRecordFormat(kWidth, kHeight);
                                               f.biBitCount = 16;
                                               return f;
                                           }()}) {
        CAviWriter writer(store_);
        writer.SetFormat(format);
        writer.SetFileName(In("refused.avi"));
        EXPECT_EQ(writer.Open(), kAviErrUnsupported);
        EXPECT_EQ(writer.ErrorText(), "Failed to create compressed stream (FORMAT NOT SUPPORTED).");
        writer.Close();
        EXPECT_TRUE(fs::exists(In("refused.avi")));  // created, released, left on disk
    }
}

TEST_F(AviTest, NoCompressorAtAll) {
    CodecTable none([](std::string_view) { return false; });
    CAviWriter writer(store_, none);
    EXPECT_EQ(Record(In("none.avi"), {}, writer), kAviErrNoCompressor);
    EXPECT_EQ(writer.ErrorText(), "Failed to create compressed stream (NO CODEC FOUND).");
    EXPECT_EQ(none.Count(), 0);
}

TEST_F(AviTest, RateOfZeroIsRefused) {
    store_.WriteInt("AVI", "FPS", 0);
    CAviWriter writer(store_);
    EXPECT_EQ(Record(In("zero.avi"), {}, writer), kAviErrBadParam);
    EXPECT_EQ(writer.ErrorText(), "Failed to create AVI Stream.");
}

// --- A full disk and a killed recording ---------------------------------------

TEST_F(AviTest, FullDiskAtTheStart) {
    CAviWriter writer(store_);
    EXPECT_EQ(Record("/dev/full", {}, writer), kAviErrFileWrite);
    EXPECT_EQ(writer.ErrorText(), "Failed to set format for compressed stream!");
}

// Runs `body` in a child process and returns its exit code, or -signal.
template <typename Body>
int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(AviTest, DiskFillingUpKeepsTheFramesBeforeIt) {
    ASSERT_TRUE(Use("rawvideo"));  // 199680 bytes a frame, whatever the screen
    const std::string file = In("full.avi");
    // The file may grow to the header and two and a half frames.
    const int written = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192 + 5 * 199680 / 2, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CAviWriter writer(store_);
        writer.SetFormat(MakeRecordFormat(kWidth, kHeight));
        writer.SetFileName(file);
        if (writer.Open() != 0) return 100;
        for (int frame = 0; frame < 10; ++frame) {
            const std::int32_t added = writer.AddFrame(frame % 2 != 0 ? a_ : b_);
            if (added != 0) return added == kAviErrFileWrite ? frame : 101;
        }
        return 102;
    });
    ASSERT_EQ(written, 2);
    const AviRepairResult repaired = RepairUnfinishedAvi(file);
    EXPECT_EQ(repaired.status, AviRepairStatus::Repaired);
    EXPECT_EQ(repaired.frames, 2);
    EXPECT_EQ(Probe(file, "nb_frames"), "2");
    EXPECT_TRUE(SameRgb(DecodeRgb(file), ToTopDownRgb(b_) + ToTopDownRgb(a_)));
}

TEST_F(AviTest, KilledRecordingIsRepairedByTheNextStart) {
    ASSERT_TRUE(Use("msvideo1"));
    const std::string file = In("killed.avi");
    const int result = InChild([&] {
        CAviWriter writer(store_);
        writer.SetFormat(MakeRecordFormat(kWidth, kHeight));
        writer.SetFileName(file);
        if (writer.Open() != 0) return 1;
        for (std::uint32_t tick = 0; tick < 12; ++tick) {
            if (tick % 4 == 3) {
                writer.SkipFrame();
            } else if (writer.AddFrame(MakeScreen(tick)) != 0) {
                return 2;
            }
        }
        ::raise(SIGKILL);
        return 3;
    });
    ASSERT_EQ(result, -SIGKILL);
    // As the kill left it: no index, no frame count.
    EXPECT_EQ(Probe(file, "nb_frames"), "N/A");

    // The next start repairs the recording that "Last" names.
    store_.WriteString("AVI", "Last", file);
    ASSERT_EQ(Record(In("next.avi"), {&a_}), 0);
    EXPECT_EQ(Probe(file, "nb_frames"),
              "11");  // the skip after the last frame never reached the disk
    EXPECT_EQ(PacketPositions(file), "0 1 2 4 5 6 8 9 10 ");
    EXPECT_TRUE(Plays(file));
    EXPECT_EQ(RepairUnfinishedAvi(file).status, AviRepairStatus::Finished);
}

// A power cut left a zeroed page over a frame header in the middle: the
// repair bridges it and keeps every frame after it.
TEST_F(AviTest, AZeroedPageInAKilledRecordingCostsOnlyTheFramesUnderIt) {
    ASSERT_TRUE(Use("msvideo1"));
    const std::string file = In("holed.avi");
    constexpr std::uint32_t kFrames = 30;
    ASSERT_EQ(InChild([&] {
                  CAviWriter writer(store_);
                  writer.SetFormat(MakeRecordFormat(kWidth, kHeight));
                  writer.SetFileName(file);
                  if (writer.Open() != 0) return 1;
                  for (std::uint32_t tick = 0; tick < kFrames; ++tick)
                      if (writer.AddFrame(MakeScreen(tick)) != 0) return 2;
                  ::raise(SIGKILL);
                  return 3;
              }),
              -SIGKILL);
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // The header of the eleventh frame and what follows it, 4 KB of zeros.
    std::size_t at = bytes.find("movi") + 4;
    const auto sizeAt = [&](std::size_t offset) {
        std::uint32_t size = 0;
        for (int i = 3; i >= 0; --i)
            size =
                size << 8 | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
        return size;
    };
    for (int frame = 0; frame < 10; ++frame) at += 8 + sizeAt(at + 4) + (sizeAt(at + 4) & 1u);
    ASSERT_EQ(bytes.substr(at, 4), "00dc");
    ASSERT_GT(sizeAt(at + 4), 4096u);  // the page takes one frame
    bytes.replace(at, 4096, std::string(4096, '\0'));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    const AviRepairResult repaired = RepairUnfinishedAvi(file);
    EXPECT_EQ(repaired.status, AviRepairStatus::Repaired);
    EXPECT_EQ(repaired.frames, static_cast<std::int32_t>(kFrames - 1));
    EXPECT_EQ(Probe(file, "nb_frames"), std::to_string(kFrames - 1));
    EXPECT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                    "stream=nb_read_frames -of default=nw=1:nk=1 '" +
                    file + "'"),
              std::to_string(kFrames - 1) + "\n");
    EXPECT_TRUE(Plays(file));
}

// An unfinished recording whose repair takes seconds: two frames around a
// 2 GB hole (sparse, so nothing is stored) that the repair searches through.
// The file's size.
std::uintmax_t MakeSlowToRepair(const std::string& file) {
    std::ofstream(file, std::ios::binary) << test::UnfinishedAvi(test::Frames(1, 100));
    fs::resize_file(file, fs::file_size(file) + (std::uintmax_t{2} << 30));
    std::ofstream(file, std::ios::binary | std::ios::app) << test::Frames(1, 100);
    return fs::file_size(file);
}

bool StillUnfinished(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char riff[8] = {};
    in.read(riff, 8);
    return std::string(riff + 4, 4) == test::Le32(0xFFFFFFFFu);
}

// Stop (the worker's close) while the open is still mending the previous
// recording: the mending stops, the file stays as it was, and the close does
// not wait for a walk over gigabytes.
TEST_F(AviTest, StopDuringTheOpensRepairLeavesThePreviousFileAlone) {
    ASSERT_TRUE(Use("msvideo1"));
    const std::string last = In("long.avi");
    const std::uintmax_t size = MakeSlowToRepair(last);
    store_.WriteString("AVI", "Last", last);

    CAviWriter writer(store_);
    writer.SetFormat(MakeRecordFormat(kWidth, kHeight));
    writer.SetFileName(In("next.avi"));
    AviWriterAdapter adapter(writer);
    RecordWorker worker;
    EXPECT_FALSE(worker.Open(adapter, std::chrono::milliseconds(0)).has_value());
    worker.Close(0);
    EXPECT_EQ(fs::file_size(last), size);
    EXPECT_TRUE(StillUnfinished(last));
}

// Record pressed while the start-up repair is at work: the new recording
// opens without waiting for it, and quitting then stops the repair.
TEST_F(AviTest, ARecordingStartedDuringTheStartUpRepairDoesNotWaitForIt) {
    ASSERT_TRUE(Use("msvideo1"));
    const std::string last = In("long.avi");
    const std::uintmax_t size = MakeSlowToRepair(last);
    store_.WriteString("AVI", "Last", last);
    std::jthread startUp([&](std::stop_token stop) { RepairNamedRecording(last, {}, stop); });
    // The repair holds the file's lock while it works.
    const auto repairing = [&] {
        FileOpenError error = FileOpenError::None;
        const FileHandle probe = FileHandle::Open(last, FileAccess::Read, error);
        return probe.IsOpen() && probe.TryLock() == FileLockResult::InUse;
    };
    for (int i = 0; i < 10000 && !repairing(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(repairing());

    ASSERT_EQ(Record(In("next.avi"), {&a_}), 0);
    EXPECT_TRUE(repairing());  // the recording did not wait for the repair to end
    startUp.request_stop();
    startUp.join();
    EXPECT_EQ(fs::file_size(last), size);
    EXPECT_TRUE(StillUnfinished(last));
}

// --- Names, format and quality ------------------------------------------------

TEST(AviNames, EnsureAviExtension) {
    const auto ensured = [](const std::string& name) {
        CAviWriter writer(SettingsStore{});
        writer.SetFileName(name);
        writer.EnsureAviExtension();
        return writer.FileName();
    };
    EXPECT_EQ(CAviWriter(SettingsStore{}).FileName(), "untitled.avi");
    EXPECT_EQ(ensured("clip"), "clip.avi");
    EXPECT_EQ(ensured("my_avi_clip.mpg"), "my_avi_clip.mpg");
    EXPECT_EQ(ensured("CLIP.AVI"), "CLIP.AVI.avi");
    EXPECT_EQ(ensured("/videos/Ça été.avi"), "/videos/Ça été.avi");
}

TEST(AviFormat, PhoneScreenIs24BitBottomUp) {
    const BitmapInfoHeader format = MakeRecordFormat(208, 320);
    EXPECT_EQ(format.biSize, 40u);
    EXPECT_EQ(format.biHeight, 320);
    EXPECT_EQ(format.biBitCount, 24);
    EXPECT_EQ(format.biSizeImage, 624u * 320u);
    EXPECT_EQ(MakeRecordFormat(3, 2).biSizeImage, 12u * 2u);  // rows padded to 4 bytes
}

TEST(AviQuality, SettingsGiveTheCompressorQuality) {
    SettingsStore store(std::make_shared<MemorySettingsBackend>());
    EXPECT_EQ(CompressorQuality(store), kQualityDefault);
    store.WriteInt("AVI", "QualityEnable", 1);
    EXPECT_EQ(CompressorQuality(store), 8000u);
    store.WriteInt("AVI", "Quality", 150);
    EXPECT_EQ(CompressorQuality(store), 10000u);
    store.WriteInt("AVI", "Quality", 0);
    EXPECT_EQ(CompressorQuality(store), 0u);
    store.WriteInt("AVI", "QualityEnable", 2);
    EXPECT_EQ(CompressorQuality(store), kQualityDefault);
}

TEST(AviQuality, QualityReachesEachEncoderOnItsOwnScale) {
    using Kind = EncoderQuality::Kind;
    EXPECT_EQ(MapQuality("mpeg4", kQualityDefault).kind, Kind::Default);
    EXPECT_EQ(MapQuality("ffv1", 8000).kind, Kind::Default);  // lossless
    const EncoderQuality mpeg4 = MapQuality("mpeg4", 8000);
    EXPECT_EQ(mpeg4.kind, Kind::FixedQuantizer);
    EXPECT_DOUBLE_EQ(mpeg4.value, 7.0);
    EXPECT_DOUBLE_EQ(MapQuality("mjpeg", 10000).value, 1.0);
    EXPECT_DOUBLE_EQ(MapQuality("mjpeg", 0).value, 31.0);
    EXPECT_DOUBLE_EQ(MapQuality("libtheora", 8000).value, 8.0);
    const EncoderQuality x264 = MapQuality("libx264", 10000);
    EXPECT_EQ(x264.kind, Kind::Option);
    EXPECT_EQ(x264.option, "crf");
    EXPECT_DOUBLE_EQ(x264.value, 0.0);
    EXPECT_DOUBLE_EQ(MapQuality("libx264", 0).value, 51.0);
    const EncoderQuality vp8 = MapQuality("libvpx", 2500);
    EXPECT_EQ(vp8.kind, Kind::Quantizer);
    EXPECT_DOUBLE_EQ(vp8.value, 47.25);
}

}  // namespace
}  // namespace velarix
