// Screenshots: the format table, path splitting, suggested and generated
// names, the "Save screenshot" command with a scripted dialog, and the files
// FreeImage writes, decoded again.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "capture/Screenshots.h"
#include "link/Protocol.h"
#include "settings/MemorySettingsBackend.h"
#include "settings/SettingsStore.h"

namespace velarix {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kShot = kSectionScreenshot;

// A temporary folder and a settings store in memory for each test.
class CaptureTest : public ::testing::Test {
protected:
    // A name inside the temporary folder.
    std::string In(const std::string& name) const { return dir_ + kPathSeparator + name; }
    void Touch(const std::string& name) const { std::ofstream(In(name)) << "x"; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    void SetGenerated(std::string_view path, std::string_view prefix, std::string_view suffix,
                      int format) const {
        store_.WriteInt(kShot, kKeyPrompt, 0);
        store_.WriteString(kShot, kKeyPath, path);
        store_.WriteString(kShot, kKeyPrefix, prefix);
        store_.WriteString(kShot, kKeySuffix, suffix);
        store_.WriteInt(kShot, kKeyFormat, format);
    }
    std::optional<std::string> Suggest(const std::string& last) const {
        store_.WriteString(kShot, kKeyLast, last);
        return SuggestNextName(store_, kShot);
    }

    test::TempDir temp_{"velarix-capture"};
    std::string dir_ = temp_.String();
    std::shared_ptr<MemorySettingsBackend> backend_ = std::make_shared<MemorySettingsBackend>();
    SettingsStore store_{backend_};
};

// A screen whose every pixel differs from its mirror images: red follows the
// screen line, green the column, and the meaningless top byte is set.
std::vector<std::uint32_t> TestScreen() {
    std::vector<std::uint32_t> screen(kScreenPixels);
    for (int row = 0; row < kScreenHeight; ++row) {
        const int line = kScreenHeight - 1 - row;  // 0 = top screen line
        for (int x = 0; x < kScreenWidth; ++x) {
            const auto r = static_cast<std::uint32_t>(line * 255 / (kScreenHeight - 1));
            const auto g = static_cast<std::uint32_t>(x * 255 / (kScreenWidth - 1));
            const auto b = static_cast<std::uint32_t>((line + x) / 4 % 256);
            screen[static_cast<std::size_t>(row * kScreenWidth + x)] =
                0xAB000000u | r << 16 | g << 8 | b;
        }
    }
    return screen;
}

struct DibDeleter {
    void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using DibPtr = std::unique_ptr<FIBITMAP, DibDeleter>;

FREE_IMAGE_FORMAT TypeOfFile(const std::string& path) {
    return FreeImage_GetFileType(path.c_str(), 0);
}

// Largest difference of one colour channel between the decoded file and the
// screen, row for row in FreeImage's bottom-up order (its row 0 is the bottom
// of the picture, as buffer row 0 is the bottom screen line).
int LargestDifference(const std::string& path, const std::vector<std::uint32_t>& screen) {
    DibPtr dib(FreeImage_Load(TypeOfFile(path), path.c_str(), 0));
    if (!dib) return -1;
    EXPECT_EQ(FreeImage_GetWidth(dib.get()), unsigned{kScreenWidth});
    EXPECT_EQ(FreeImage_GetHeight(dib.get()), unsigned{kScreenHeight});
    EXPECT_EQ(FreeImage_GetBPP(dib.get()), 24u);
    int largest = 0;
    for (int row = 0; row < kScreenHeight; ++row) {
        const BYTE* line = FreeImage_GetScanLine(dib.get(), row);
        for (int x = 0; x < kScreenWidth; ++x) {
            const std::uint32_t want = screen[static_cast<std::size_t>(row * kScreenWidth + x)];
            const BYTE* px = line + 3 * x;
            const int diffs[] = {px[FI_RGBA_RED] - static_cast<int>(want >> 16 & 0xFF),
                                 px[FI_RGBA_GREEN] - static_cast<int>(want >> 8 & 0xFF),
                                 px[FI_RGBA_BLUE] - static_cast<int>(want & 0xFF)};
            for (int d : diffs) largest = std::max(largest, std::abs(d));
        }
    }
    return largest;
}

// ---------------------------------------------------------------------------
// Format table and path splitting

TEST(ImageFormatTable, FilterListsTheRowsInOrder) {
    EXPECT_EQ(kImageFilter, "BMP (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg|PNG (*.png)|*.png||");
    std::string filter;
    for (const ImageFormat& row : kImageFormats) {
        filter.append(row.dialogType).append("|").append(row.pattern).append("|");
    }
    EXPECT_EQ(filter + "|", kImageFilter);
    EXPECT_EQ(kImageFormats[kFormatJpeg].Extension(), ".jpg");
}

TEST(ImageFormatTable, NameEndingDecidesIgnoringCase) {
    EXPECT_EQ(ImageFormatOfName("/s/pic.bmp", -1), kFormatBmp);
    EXPECT_EQ(ImageFormatOfName("/s/pic.JpG", -1), kFormatJpeg);
    EXPECT_EQ(ImageFormatOfName("pic.PNG", -1), kFormatPng);
    EXPECT_EQ(ImageFormatOfName("/s/pic.jpeg", -1), -1);
    EXPECT_EQ(ImageFormatOfName("/s/pic.png.gif", 7), 7);
    EXPECT_EQ(ImageFormatOfName("/s/pic", 1), 1);
    // A name no longer than the pattern itself has no extension here.
    EXPECT_EQ(ImageFormatOfName("a.png", -1), -1);
    EXPECT_EQ(ImageFormatOfName(".png", -1), -1);
    EXPECT_EQ(ImageFormatOfName("", 2), 2);
}

TEST(ImageFormatTable, StoredFormatOutsideTheTableIsBmp) {
    EXPECT_EQ(ClampImageFormat(2), kFormatPng);
    EXPECT_EQ(ClampImageFormat(3), kFormatBmp);
    EXPECT_EQ(ClampImageFormat(0xFFFFFFFFu), kFormatBmp);  // -1 from the setup page
}

// Drive, folder, base name and extension joined with '|'.
std::string Split(std::string_view path, PathStyle style) {
    const PathParts p = SplitPath(path, style);
    return p.drive + "|" + p.dir + "|" + p.base + "|" + p.ext;
}

TEST(SplitPathTest, CutsAsThePlatformDoes) {
    EXPECT_EQ(Split("C:\\shots\\img7.png", PathStyle::Windows), "C:|\\shots\\|img7|.png");
    EXPECT_EQ(Split("d:/a\\b/x.tar.gz", PathStyle::Windows), "d:|/a\\b/|x.tar|.gz");
    EXPECT_EQ(Split("shot", PathStyle::Windows), "||shot|");
    EXPECT_EQ(Split("/s/img.png", PathStyle::Posix), "|/s/|img|.png");
    EXPECT_EQ(Split("C:\\s\\a.b\\shot", PathStyle::Posix), "||C:\\s\\a|.b\\shot");
    EXPECT_EQ(Split("/s/.png", PathStyle::Posix), "|/s/||.png");
}

// ---------------------------------------------------------------------------
// Suggested names

TEST_F(CaptureTest, SuggestionCountsOnPastTakenNames) {
    EXPECT_EQ(Suggest(In("img7.png")), In("img8.png"));
    Touch("img8.png");
    fs::create_directory(In("img9.png"));  // a folder takes the name as well
    EXPECT_EQ(Suggest(In("img7.png")), In("img10.png"));
}

TEST_F(CaptureTest, SuggestionReadsTheNumberAsScanfDoes) {
    EXPECT_EQ(Suggest(In("img07x.bmp")), In("img8.bmp"));    // text after it dropped
    EXPECT_EQ(Suggest(In("7up.bmp")), In("7up1.bmp"));       // not at the first character
    EXPECT_EQ(Suggest(In("img 5.png")), In("img6.png"));     // white space skipped
    EXPECT_EQ(Suggest(In("shot-3.jpg")), In("shot-2.jpg"));  // signed
    EXPECT_EQ(Suggest(In("a+-1.png")), In("a+0.png"));       // "+-1" fails, "-1" reads
}

TEST_F(CaptureTest, SuggestionWithoutNumberAddsOneUnchecked) {
    Touch("img1.png");
    EXPECT_EQ(Suggest(In("img.png")), In("img1.png"));
    EXPECT_EQ(Suggest(In("x-.gif")), In("x-1.gif"));  // any 3-letter extension
}

TEST_F(CaptureTest, NoSuggestionFromAnUnsoundLast) {
    EXPECT_EQ(SuggestNextName(store_, kShot), std::nullopt);  // nothing stored
    EXPECT_EQ(Suggest(In("img7.jpeg")), std::nullopt);
    EXPECT_EQ(Suggest(In("img7")), std::nullopt);
    EXPECT_EQ(Suggest(In(".png")), std::nullopt);
    EXPECT_EQ(Suggest("img7.png"), std::nullopt);  // no folder
}

TEST_F(CaptureTest, SuggestionUsesItsOwnSection) {
    store_.WriteString("AVI", kKeyLast, In("clip3.avi"));
    EXPECT_EQ(SuggestNextName(store_, "AVI"), In("clip4.avi"));
    EXPECT_EQ(SuggestNextName(store_, kShot), std::nullopt);
}

TEST_F(CaptureTest, HugeNumbersDoNotOverflow) {
    // The largest int has no successor; a longer number reads as that.
    EXPECT_EQ(Suggest(In("img2147483647.png")), std::nullopt);
    EXPECT_EQ(Suggest(In("img99999999999999999999999.png")), std::nullopt);
    EXPECT_EQ(Suggest(In("img2147483646.png")), In("img2147483647.png"));
    EXPECT_EQ(Suggest(In("img-99999999999.png")), In("img-2147483647.png"));
}

TEST_F(CaptureTest, SuggestionSearchIsBounded) {
    Touch("img8.png");
    Touch("img9.png");
    Touch("img10.png");
    store_.WriteString(kShot, kKeyLast, In("img7.png"));
    EXPECT_EQ(SuggestNextName(store_, kShot, 3), std::nullopt);
    EXPECT_EQ(SuggestNextName(store_, kShot, 4), In("img11.png"));
}

TEST_F(CaptureTest, SuggestionMustFitAPathBuffer) {
    // Names of exactly 259 bytes fit; one more byte does not.
    const std::size_t fill = kMaxPathBytes - 1 - In("7.png").size();
    const std::string longest = In(std::string(fill, 'a') + "7.png");
    ASSERT_EQ(longest.size(), kMaxPathBytes - 1);
    EXPECT_EQ(Suggest(longest), In(std::string(fill, 'a') + "8.png"));
    EXPECT_EQ(Suggest(In(std::string(fill, 'a') + "9.png")), std::nullopt);
    EXPECT_EQ(Suggest(In(std::string(fill, 'a') + ".png")), In(std::string(fill, 'a') + "1.png"));
    EXPECT_EQ(Suggest(In(std::string(fill + 1, 'a') + ".png")), std::nullopt);
    EXPECT_EQ(Suggest(In(std::string(fill + 1, 'a') + "7.png")), std::nullopt);
}

// ---------------------------------------------------------------------------
// Generated names

TEST_F(CaptureTest, GeneratedNameFillsTheFirstGap) {
    SetGenerated(dir_, "p", "_x", kFormatPng);
    EXPECT_EQ(MakeScreenshotName(store_), In("p1_x.png"));
    Touch("p1_x.png");
    EXPECT_EQ(MakeScreenshotName(store_), In("p2_x.png"));
    Touch("p2_x.png");
    fs::remove(In("p1_x.png"));
    EXPECT_EQ(MakeScreenshotName(store_), In("p1_x.png"));
}

TEST_F(CaptureTest, GeneratedNameJoinsPathOnce) {
    SetGenerated(dir_ + kPathSeparator, "p", "_x", kFormatPng);
    EXPECT_EQ(MakeScreenshotName(store_), In("p1_x.png"));
    SetGenerated("", "shot", "", kFormatJpeg);
    EXPECT_EQ(MakeScreenshotName(store_), "shot1.jpg");  // relative to the current folder
}

TEST_F(CaptureTest, GeneratedNameWithStrayFormatIsBmp) {
    SetGenerated(dir_, "", "", 7);
    EXPECT_EQ(MakeScreenshotName(store_), In("1.bmp"));
    SetGenerated(dir_, "", "", -1);
    EXPECT_EQ(MakeScreenshotName(store_), In("1.bmp"));
}

TEST_F(CaptureTest, OnlyPromptOneAsksForASuggestion) {
    store_.WriteString(kShot, kKeyLast, In("img7.png"));
    EXPECT_EQ(MakeScreenshotName(store_), In("img8.png"));  // default Prompt is 1
    SetGenerated(dir_, "g", "", kFormatBmp);
    store_.WriteInt(kShot, kKeyPrompt, 5);
    EXPECT_EQ(MakeScreenshotName(store_), In("g1.bmp"));
}

TEST_F(CaptureTest, GeneratedNameRefusedWhenTooLongOrAllTaken) {
    SetGenerated(dir_, std::string(kMaxPathBytes, 'p'), "", kFormatBmp);
    EXPECT_EQ(MakeScreenshotName(store_), std::nullopt);
    SetGenerated(dir_, "p", "", kFormatBmp);
    Touch("p1.bmp");
    Touch("p2.bmp");
    Touch("p3.bmp");
    EXPECT_EQ(MakeScreenshotName(store_, 3), std::nullopt);
    EXPECT_EQ(MakeScreenshotName(store_, 4), In("p4.bmp"));
}

// Hands out a different "Prefix" at every read, to show the settings are read
// again for every name tried.
class ChangingPrefixBackend final : public ISettingsBackend {
public:
    std::optional<std::uint32_t> ReadInt(std::string_view s, std::string_view k) override {
        return inner.ReadInt(s, k);
    }
    std::optional<std::string> ReadString(std::string_view s, std::string_view k) override {
        if (k == kKeyPrefix) return std::string(1, static_cast<char>('a' + prefixReads++));
        return inner.ReadString(s, k);
    }
    void WriteInt(std::string_view s, std::string_view k, std::uint32_t v) override {
        inner.WriteInt(s, k, v);
    }
    void WriteString(std::string_view s, std::string_view k, std::string_view v) override {
        inner.WriteString(s, k, v);
    }
    MemorySettingsBackend inner;
    int prefixReads = 0;
};

TEST_F(CaptureTest, GeneratedNameRereadsSettingsEachAttempt) {
    auto changing = std::make_shared<ChangingPrefixBackend>();
    const SettingsStore store(changing);
    store.WriteInt(kShot, kKeyPrompt, 0);
    store.WriteString(kShot, kKeyPath, dir_);
    Touch("a1.bmp");
    Touch("b2.bmp");
    EXPECT_EQ(MakeScreenshotName(store), In("c3.bmp"));
    EXPECT_EQ(changing->prefixReads, 3);
}

// ---------------------------------------------------------------------------
// Writing the file

TEST_F(CaptureTest, BmpAndPngHoldTheScreenExactly) {
    const auto screen = TestScreen();
    for (const char* name : {"s.bmp", "s.png", "s.PNG2"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteScreenshot(screen, In(name)));
        EXPECT_EQ(LargestDifference(In(name), screen), 0);
    }
    EXPECT_EQ(TypeOfFile(In("s.bmp")), FIF_BMP);
    EXPECT_EQ(TypeOfFile(In("s.png")), FIF_PNG);
    EXPECT_EQ(TypeOfFile(In("s.PNG2")), FIF_BMP);  // no known extension: BMP
}

// Names are UTF-8 throughout; on Windows the file must carry the name itself,
// not its bytes read in the ANSI code page.
TEST_F(CaptureTest, NamesOutsideAsciiAreWrittenUnderThatName) {
    const std::string name = "\xC3\xA9t\xC3\xA9 \xCE\xA9 \xE2\x9C\x93.png";  // "été Ω ✓.png"
    ASSERT_TRUE(WriteScreenshot(TestScreen(), In(name)));
    const fs::path written = fs::path(dir_) / std::u8string(name.begin(), name.end());
    EXPECT_TRUE(fs::is_regular_file(written));
    EXPECT_EQ(Files().size(), 1u);
}

TEST_F(CaptureTest, BmpFileIsUpright) {
    // Read the file's own bytes: a positive height means the first stored row
    // is the bottom of the picture, which must be the bottom screen line.
    const auto screen = TestScreen();
    ASSERT_TRUE(WriteScreenshot(screen, In("u.bmp")));
    std::ifstream in(In("u.bmp"), std::ios::binary);
    const std::vector<unsigned char> file{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(file.size(), 54u + 3u * kScreenPixels - 1);
    auto le32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 4; i-- > 0;) value = value << 8 | file[at + i];
        return static_cast<std::int32_t>(value);
    };
    EXPECT_EQ(le32(18), kScreenWidth);
    EXPECT_EQ(le32(22), kScreenHeight);  // positive: bottom-up
    const auto offset = static_cast<std::size_t>(le32(10));
    const std::size_t topRow = offset + std::size_t{3} * kScreenWidth * (kScreenHeight - 1);
    // Red follows the screen line: full on the bottom line, none on the top one.
    EXPECT_EQ(file[offset + 2], 255);
    EXPECT_EQ(file[topRow + 2], 0);
    for (int x = 0; x < kScreenWidth; ++x) {
        const std::uint32_t bottom = screen[static_cast<std::size_t>(x)];
        const std::size_t at = offset + 3 * static_cast<std::size_t>(x);
        EXPECT_EQ(static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16),
                  bottom & 0xFFFFFFu);
    }
}

TEST_F(CaptureTest, JpegIsCloseToTheScreen) {
    const auto screen = TestScreen();
    ASSERT_TRUE(WriteScreenshot(screen, In("s.jpg")));
    EXPECT_EQ(TypeOfFile(In("s.jpg")), FIF_JPEG);
    const int largest = LargestDifference(In("s.jpg"), screen);
    EXPECT_GE(largest, 0);
    EXPECT_LE(largest, 24);
}

TEST_F(CaptureTest, FailedWritesLeaveNoFile) {
    const auto screen = TestScreen();
    EXPECT_FALSE(WriteScreenshot(screen, In("missing/s.png")));
    EXPECT_FALSE(WriteScreenshot(std::span(screen).first(kScreenPixels - 1), In("short.png")));
    EXPECT_FALSE(WriteScreenshot(screen, In(std::string(kMaxPathBytes, 'l') + ".png")));
    EXPECT_TRUE(Files().empty());
}

// ---------------------------------------------------------------------------
// The "Save screenshot" command

// A dialog that records what it was asked and answers as scripted.
struct ScriptedDialog {
    std::optional<SaveDialogResult> answer;
    std::vector<SaveDialogRequest> requests;
    SaveDialogFn Fn() {
        return [this](const SaveDialogRequest& r) {
            requests.push_back(r);
            return answer;
        };
    }
};

TEST_F(CaptureTest, GeneratedSaveSkipsTheDialogAndLeavesLast) {
    SetGenerated(dir_, "p", "_x", kFormatPng);
    const std::size_t stored = backend_->Size();
    ScriptedDialog dialog;
    const auto screen = TestScreen();
    ASSERT_TRUE(SaveScreenshot(store_, screen, dialog.Fn()));
    ASSERT_TRUE(SaveScreenshot(store_, screen, dialog.Fn()));
    EXPECT_TRUE(dialog.requests.empty());
    EXPECT_EQ(TypeOfFile(In("p1_x.png")), FIF_PNG);
    EXPECT_EQ(TypeOfFile(In("p2_x.png")), FIF_PNG);
    EXPECT_EQ(backend_->Size(), stored);  // no "Last", no "LastDir"

    SetGenerated(dir_ + kPathSeparator + "missing", "p", "", kFormatBmp);
    EXPECT_FALSE(SaveScreenshot(store_, screen, dialog.Fn()));
    SetGenerated(dir_, std::string(kMaxPathBytes, 'p'), "", kFormatBmp);
    EXPECT_FALSE(SaveScreenshot(store_, screen, dialog.Fn()));
    EXPECT_EQ(Files().size(), 2u);
}

TEST_F(CaptureTest, DialogOffersTheSuggestionWithItsType) {
    store_.WriteInt(kShot, kKeyFormat, kFormatBmp);
    store_.WriteString(kShot, kKeyLast, In("shot9.jpg"));
    store_.WriteString(kShot, kKeyLastDir, dir_ + kPathSeparator);
    ScriptedDialog dialog;
    dialog.answer = SaveDialogResult{In("shot10.jpg"), kFormatJpeg};
    ASSERT_TRUE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    ASSERT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(dialog.requests[0].initialName, In("shot10.jpg"));
    EXPECT_EQ(dialog.requests[0].typeIndex, kFormatJpeg);
    EXPECT_EQ(dialog.requests[0].initialDir, dir_ + kPathSeparator);
    EXPECT_EQ(TypeOfFile(In("shot10.jpg")), FIF_JPEG);
}

TEST_F(CaptureTest, DialogWithoutLastStartsEmptyWithFormatType) {
    ScriptedDialog dialog;  // cancels
    store_.WriteInt(kShot, kKeyFormat, kFormatPng);
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    store_.WriteInt(kShot, kKeyFormat, -1);
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    ASSERT_EQ(dialog.requests.size(), 2u);
    EXPECT_EQ(dialog.requests[0].initialName, "");
    EXPECT_EQ(dialog.requests[0].initialDir, "");
    EXPECT_EQ(dialog.requests[0].typeIndex, kFormatPng);
    EXPECT_EQ(dialog.requests[1].typeIndex, kFormatBmp);
}

TEST_F(CaptureTest, CancelledFailedOrUnfitDialogSaveWritesNothing) {
    store_.WriteString(kShot, kKeyLast, In("old3.png"));
    store_.WriteString(kShot, kKeyLastDir, "/elsewhere/");
    ScriptedDialog dialog;  // cancels
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), nullptr));
    dialog.answer = SaveDialogResult{In("missing/pic.png"), kFormatPng};
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    // 256 bytes typed, 260 with the added extension.
    dialog.answer =
        SaveDialogResult{In(std::string(kMaxPathBytes - 4 - In("").size(), 'n')), kFormatPng};
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(store_.GetString(kShot, kKeyLast), In("old3.png"));
    EXPECT_EQ(store_.GetString(kShot, kKeyLastDir), "/elsewhere/");
}

TEST_F(CaptureTest, TypedNameAndSelectedTypeDecideTheFile) {
    struct Case {
        const char* typed;
        int type;
        const char* written;
        FREE_IMAGE_FORMAT format;
    };
    const Case cases[] = {
        {"pic.PNG", kFormatBmp, "pic.PNG", FIF_PNG},
        {"pic", kFormatBmp, "pic.bmp", FIF_BMP},
        {"shot", kFormatJpeg, "shot.jpg", FIF_JPEG},
        {"shot.jpeg", kFormatJpeg, "shot.jpeg.jpg", FIF_JPEG},
        {"odd", 9, "odd.bmp", FIF_BMP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ScriptedDialog dialog;
        dialog.answer = SaveDialogResult{In(c.typed), c.type};
        ASSERT_TRUE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
        EXPECT_EQ(TypeOfFile(In(c.written)), c.format);
        EXPECT_EQ(store_.GetString(kShot, kKeyLast), In(c.written));
        EXPECT_EQ(store_.GetString(kShot, kKeyLastDir), dir_ + kPathSeparator);
    }
    EXPECT_EQ(Files().size(), std::size(cases));
}

// The dialog asks only about the name as typed; a file that exists under the
// name with the type's extension added is replaced only after a yes.
TEST_F(CaptureTest, AddedExtensionNeverReplacesAFileWithoutAYes) {
    struct Case {
        const char* typed;
        const char* existing;
        std::optional<bool> answer;  // nothing: no question may be asked
        bool written;
    };
    const Case cases[] = {
        {"shot", "shot.png", false, false},
        {"shot", "shot.png", true, true},
        {"free", "other.png", std::nullopt, true},
        {"typed.png", "typed.png", std::nullopt, true},  // the dialog asked for this one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " " + c.existing);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        Touch(c.existing);
        ScriptedDialog dialog;
        dialog.answer = SaveDialogResult{In(c.typed), kFormatPng};
        std::vector<std::string> asked;
        const ConfirmReplaceFn confirm = [&](const std::string& path) {
            asked.push_back(path);
            return c.answer.value_or(true);
        };
        EXPECT_EQ(SaveScreenshot(store_, TestScreen(), dialog.Fn(), confirm), c.written);
        EXPECT_EQ(asked,
                  c.answer ? std::vector<std::string>{In(c.existing)} : std::vector<std::string>{});
        EXPECT_EQ(fs::file_size(In(c.existing)) > 1,
                  (c.written && c.answer.value_or(false)) || std::string(c.typed) == c.existing);
    }
    // Without anyone to ask, nothing is replaced.
    ScriptedDialog dialog;
    dialog.answer = SaveDialogResult{In("shot"), kFormatPng};
    Touch("shot.png");
    EXPECT_FALSE(SaveScreenshot(store_, TestScreen(), dialog.Fn()));
    EXPECT_EQ(fs::file_size(In("shot.png")), 1u);
}

TEST_F(CaptureTest, PromptTurnedOffDuringTheDialogLeavesLast) {
    ScriptedDialog dialog;
    dialog.answer = SaveDialogResult{In("pic.png"), kFormatPng};
    SaveDialogFn fn = [&](const SaveDialogRequest& r) {
        store_.WriteInt(kShot, kKeyPrompt, 0);
        return dialog.Fn()(r);
    };
    ASSERT_TRUE(SaveScreenshot(store_, TestScreen(), fn));
    EXPECT_EQ(TypeOfFile(In("pic.png")), FIF_PNG);
    EXPECT_EQ(store_.GetString(kShot, kKeyLast), "");
}

}  // namespace
}  // namespace velarix
