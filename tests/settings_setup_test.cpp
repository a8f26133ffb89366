// The setup dialog and its two pages, driven offscreen: pages made on first
// show and kept across switches, OK saving only shown pages with the exact
// keys in order, Cancel and the close box saving nothing, Escape ignored, the
// enable rules, the folder normalisation, the quality edit and slider, the
// frame-rate rules, the compressor list and the caption bar's painting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/CompressorState.h"
#include "settings/MemorySettingsBackend.h"
#include "setup/CAviPage.h"
#include "setup/CCodecConfigDialog.h"
#include "setup/CFolderBrowser.h"
#include "setup/CGradientCaption.h"
#include "setup/CScreenShotsPage.h"
#include "setup/CSetupDialog.h"
#include "setup/SetupText.h"

namespace velarix::test {
namespace {

// Memory settings that also log every write that changes a value as
// "Section/Key=value", in order; like every backend, it leaves a value already
// stored alone.
class LoggingBackend final : public ISettingsBackend {
public:
    std::optional<std::uint32_t> ReadInt(std::string_view s, std::string_view k) override {
        return memory.ReadInt(s, k);
    }
    std::optional<std::string> ReadString(std::string_view s, std::string_view k) override {
        return memory.ReadString(s, k);
    }
    void WriteInt(std::string_view s, std::string_view k, std::uint32_t v) override {
        if (memory.ReadInt(s, k) == v) return;
        writes.push_back(std::string(s) + "/" + std::string(k) + "=" +
                         std::to_string(static_cast<std::int32_t>(v)));
        memory.WriteInt(s, k, v);
    }
    void WriteString(std::string_view s, std::string_view k, std::string_view v) override {
        if (memory.ReadString(s, k) == v) return;
        writes.push_back(std::string(s) + "/" + std::string(k) + "=" + std::string(v));
        memory.WriteString(s, k, v);
    }
    // "Section/Key=value" as stored now: a write of the value already stored
    // leaves no entry in `writes`.
    std::string Stored(std::string_view s, std::string_view k) {
        const std::string name = std::string(s) + "/" + std::string(k) + "=";
        if (const auto v = memory.ReadInt(s, k)) return name + std::to_string(std::int32_t(*v));
        return name + memory.ReadString(s, k).value_or("(missing)");
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const std::string& w : writes) keys.push_back(w.substr(0, w.find('=')));
        return keys;
    }

    MemorySettingsBackend memory;
    std::vector<std::string> writes;
};

CodecInfo Codec(const char* tag, std::uint32_t version, const char* name, const char* description,
                bool configurable) {
    CodecInfo info;
    info.fccType = 0x63646976;  // "vidc"
    info.fccHandler =
        std::uint32_t(std::uint8_t(tag[0])) | std::uint32_t(std::uint8_t(tag[1])) << 8 |
        std::uint32_t(std::uint8_t(tag[2])) << 16 | std::uint32_t(std::uint8_t(tag[3])) << 24;
    info.version = version;
    info.name = name;
    info.description = description;
    info.configurable = configurable;
    return info;
}

class FakeCodecs final : public ICodecList {
public:
    void StartEnumeration() override { ++starts; }
    bool Busy() const override { return false; }
    int Count() const override { return static_cast<int>(entries.size()); }
    const CodecInfo& Entry(int i) const override { return entries[std::size_t(i)]; }
    int FindCodecByLabel(std::string_view label) const override {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (CodecLabel(entries[i].fccHandler, entries[i].version) == label) return int(i);
        return 0;
    }
    std::vector<CodecInfo> entries;
    int starts = 0;
};

FakeCodecs TwoCodecs() {
    FakeCodecs codecs;
    codecs.entries.push_back(Codec("CRAM", 0x3a0164, "msvideo1", "Microsoft Video 1", false));
    codecs.entries.push_back(Codec("MJPG", 0x3a0164, "mjpeg", "MJPEG (Motion JPEG)", true));
    return codecs;
}

// A setup dialog as RunSetupDialog builds it, over logging memory settings.
struct SetupRig {
    explicit SetupRig(FakeCodecs fakeCodecs = TwoCodecs())
        : backend(std::make_shared<LoggingBackend>()), codecs(std::move(fakeCodecs)) {}
    SettingsStore Store() const { return SettingsStore(backend); }
    CSetupDialog& Open() {
        dialog = std::make_unique<CSetupDialog>(SetupContext{Store(), &codecs});
        shots = static_cast<CScreenShotsPage*>(dialog->AddPage(
            &CScreenShotsPage::CreateObject, "Screenshots", kScreenShotsPageTemplate));
        avi = static_cast<CAviPage*>(
            dialog->AddPage(&CAviPage::CreateObject, "Video (AVI)", kAviPageTemplate));
        dialog->SetTitle("Ostrel Setup");
        dialog->SetLogoText("Ostrel");
        backend->writes.clear();
        dialog->show();
        return *dialog;
    }
    template <class T>
    T* Find(QWidget* page, const char* name) const {
        T* w = page->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Ok() const { dialog->OkButton()->click(); }
    void Cancel() const { dialog->CancelButton()->click(); }

    std::shared_ptr<LoggingBackend> backend;
    FakeCodecs codecs;
    std::unique_ptr<CSetupDialog> dialog;
    CScreenShotsPage* shots = nullptr;
    CAviPage* avi = nullptr;
};

std::string Cwd() {
    return std::filesystem::current_path().string();
}

// ---- Folder and number rules ----

TEST(SetupText, NormalizeFolderOnWindowsPaths) {
    const auto exists = [](const std::string& p) { return p == "D:\\Pictures"; };
    const auto cwd = []() -> std::optional<std::string> { return std::string("C:\\Work"); };
    auto norm = [&](std::string text) {
        NormalizeFolder(text, PathStyle::Windows, exists, cwd);
        return text;
    };
    EXPECT_EQ(norm("D:\\Pictures\\"), "D:\\Pictures");
    EXPECT_EQ(norm("  D:\\Pictures  "), "D:\\Pictures");
    EXPECT_EQ(norm("C:\\"), "C:\\");
    EXPECT_EQ(norm("E:\\Missing"), "C:\\Work");
    EXPECT_EQ(norm(""), "C:\\Work");
    EXPECT_EQ(norm("abc"), "abc");  // three characters stay, as a drive root does
    std::string text = "E:\\Missing";
    NormalizeFolder(text, PathStyle::Windows, exists, [] { return std::optional<std::string>(); });
    EXPECT_EQ(text, "E:\\Missing");  // no current directory: unchanged
}

TEST(SetupText, NormalizeFolderOnTheFileSystem) {
    const auto dir = std::filesystem::temp_directory_path() / "velarix_setup_folder";
    std::filesystem::create_directories(dir);
    std::string text = dir.string() + kPathSeparator;
    NormalizeFolder(text);
    EXPECT_EQ(text, dir.string());
    text = "/";
    NormalizeFolder(text);
    EXPECT_EQ(text, "/");
    text = (dir / "not-there").string();
    NormalizeFolder(text);
    EXPECT_EQ(text, Cwd());
    std::filesystem::remove_all(dir);
}

TEST(SetupText, NumbersReadAsPercentD) {
    EXPECT_EQ(ScanInt("15"), 15);
    EXPECT_EQ(ScanInt("  7x"), 7);
    EXPECT_EQ(ScanInt("-3"), -3);
    EXPECT_EQ(ScanInt(""), std::nullopt);
    EXPECT_EQ(ScanInt("x1"), std::nullopt);
    EXPECT_EQ(ScanInt("99999999999"), 2147483647);
    EXPECT_EQ(FormatStoredInt(0xFFFFFFFFu), "-1");
}

// ---- The dialog ----

TEST(SetupDialog, OpensOnTheScreenshotPageOnly) {
    SetupRig s;
    CSetupDialog& d = s.Open();
    EXPECT_EQ(d.windowTitle(), "Ostrel Setup");
    EXPECT_EQ(d.Caption()->Text(), "Screenshots");
    EXPECT_EQ(d.Caption()->LogoText(), "Ostrel");
    EXPECT_EQ(d.Caption()->FaceName(), "Verdana");
    EXPECT_EQ(d.Caption()->CaptionHeight(), 14);
    EXPECT_EQ(d.Caption()->CaptionWeight(), 700);
    ASSERT_EQ(d.Tree()->topLevelItemCount(), 2);
    EXPECT_EQ(d.Tree()->topLevelItem(1)->text(0), "Video (AVI)");
    EXPECT_EQ(d.Tree()->currentItem(), d.Tree()->topLevelItem(0));
    EXPECT_TRUE(s.shots->HasWindow());
    EXPECT_TRUE(s.shots->isVisible());
    EXPECT_EQ(s.shots->geometry(), d.PageRect());
    EXPECT_FALSE(s.avi->HasWindow());
    EXPECT_EQ(s.avi->findChild<QComboBox*>("combo1039"), nullptr);
    EXPECT_FALSE(d.ApplyButton()->isVisible());
    EXPECT_FALSE(d.ApplyButton()->isEnabled());
    EXPECT_TRUE(d.OkButton()->isDefault());
    // Registration is over once the dialog runs.
    EXPECT_EQ(d.AddPage(&CAviPage::CreateObject, "Again", kAviPageTemplate), nullptr);
    EXPECT_EQ(d.PageCount(), 2);
}

TEST(SetupDialog, PagesAreMadeOnFirstShowAndKeepTheirEdits) {
    SetupRig s;
    CSetupDialog& d = s.Open();
    auto* prefix = s.Find<QLineEdit>(s.shots, "edit1033");
    prefix->setText("typed");
    d.SelectPage(1);
    EXPECT_TRUE(s.avi->HasWindow());
    EXPECT_TRUE(s.avi->isVisible());
    EXPECT_FALSE(s.shots->isVisible());
    EXPECT_EQ(d.Caption()->Text(), "Video (AVI)");
    auto* fps = s.Find<QLineEdit>(s.avi, "edit1000");
    fps->setText("12");
    d.Tree()->setCurrentItem(d.Tree()->topLevelItem(0));
    EXPECT_TRUE(s.shots->isVisible());
    EXPECT_EQ(s.Find<QLineEdit>(s.shots, "edit1033"), prefix);
    EXPECT_EQ(prefix->text(), "typed");
    d.SelectPage(1);
    EXPECT_EQ(s.Find<QLineEdit>(s.avi, "edit1000")->text(), "12");
    EXPECT_TRUE(s.backend->writes.empty());
}

TEST(SetupDialog, OkSavesOnlyTheShownPagesInOrder) {
    SetupRig s;
    s.Open();
    s.Find<QCheckBox>(s.shots, "check1032")->click();  // prompt off
    s.Find<QLineEdit>(s.shots, "edit1033")->setText("shot");
    s.Find<QLineEdit>(s.shots, "edit1034")->setText("_x");
    s.Find<QComboBox>(s.shots, "combo1038")->setCurrentIndex(2);
    s.Ok();
    EXPECT_EQ(s.dialog->result(), QDialog::Accepted);
    EXPECT_EQ(s.backend->writes,
              (std::vector<std::string>{"Screenshot/Prompt=0", "Screenshot/Prefix=shot",
                                        "Screenshot/Suffix=_x", "Screenshot/Path=" + Cwd(),
                                        "Screenshot/Format=2", "Screenshot/IntervalEnable=0",
                                        "Screenshot/Interval=0"}));
    EXPECT_FALSE(s.shots->HasWindow());  // torn down
}

TEST(SetupDialog, OkWithBothPagesWritesTheVideoKeysToo) {
    SetupRig s;
    s.Open();
    s.dialog->SelectPage(1);
    s.Ok();
    const std::vector<std::string> keys = s.backend->Keys();
    ASSERT_EQ(keys.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(keys.begin() + 7, keys.end()),
              (std::vector<std::string>{"AVI/Codec", "AVI/Path", "AVI/FPS", "AVI/QualityEnable",
                                        "AVI/Quality"}));
    EXPECT_EQ(s.backend->writes[7], "AVI/Codec=CRAM-3a0164");
    EXPECT_EQ(s.backend->writes[9], "AVI/FPS=5");
    EXPECT_EQ(s.backend->writes[11], "AVI/Quality=80");
}

TEST(SetupDialog, CancelCloseBoxAndEscapeSaveNothing) {
    {
        SetupRig s;
        s.Open();
        s.Find<QLineEdit>(s.shots, "edit1033")->setText("changed");
        s.Cancel();
        EXPECT_EQ(s.dialog->result(), QDialog::Rejected);
        EXPECT_TRUE(s.backend->writes.empty());
        EXPECT_FALSE(s.dialog->isVisible());
    }
    {
        SetupRig s;
        s.Open();
        s.dialog->SelectPage(1);
        s.dialog->close();  // the close box
        EXPECT_EQ(s.dialog->result(), QDialog::Rejected);
        EXPECT_TRUE(s.backend->writes.empty());
    }
    {
        SetupRig s;
        s.Open();
        QTest::keyClick(s.dialog.get(), Qt::Key_Escape);
        QTest::keyClick(s.Find<QLineEdit>(s.shots, "edit1033"), Qt::Key_Escape);
        EXPECT_TRUE(s.dialog->isVisible());
        EXPECT_TRUE(s.shots->HasWindow());
        EXPECT_TRUE(s.backend->writes.empty());
    }
}

// ---- The screenshot page ----

TEST(ScreenshotPage, PromptDisablesTheNamePartsButNotTheFormat) {
    SetupRig s;
    s.Open();
    auto* prompt = s.Find<QCheckBox>(s.shots, "check1032");
    EXPECT_TRUE(prompt->isChecked());  // "Prompt" defaults to 1
    for (const char* name : {"edit1033", "edit1034", "edit1000"})
        EXPECT_FALSE(s.Find<QLineEdit>(s.shots, name)->isEnabled()) << name;
    EXPECT_FALSE(s.Find<QPushButton>(s.shots, "button1001")->isEnabled());
    EXPECT_FALSE(s.Find<QCheckBox>(s.shots, "check1003")->isEnabled());
    EXPECT_TRUE(s.Find<QComboBox>(s.shots, "combo1038")->isEnabled());
    prompt->click();
    for (const char* name : {"edit1033", "edit1034", "edit1000"})
        EXPECT_TRUE(s.Find<QLineEdit>(s.shots, name)->isEnabled()) << name;
    EXPECT_TRUE(s.Find<QPushButton>(s.shots, "button1001")->isEnabled());
    EXPECT_TRUE(s.Find<QCheckBox>(s.shots, "check1003")->isEnabled());
    EXPECT_FALSE(s.Find<QLineEdit>(s.shots, "edit1037")->isEnabled());
    s.Find<QCheckBox>(s.shots, "check1003")->click();
    EXPECT_TRUE(s.Find<QLineEdit>(s.shots, "edit1037")->isEnabled());
    // The interval controls are kept but never shown.
    EXPECT_TRUE(s.Find<QCheckBox>(s.shots, "check1003")->isHidden());
    EXPECT_TRUE(s.Find<QLineEdit>(s.shots, "edit1037")->isHidden());
}

TEST(ScreenshotPage, StoredValuesLoadAndIntervalRulesHold) {
    SetupRig s;
    const SettingsStore store = s.Store();
    store.WriteInt("Screenshot", "Prompt", 0);
    store.WriteString("Screenshot", "Prefix", "pre");
    // The temporary folder without its trailing separator (Windows gives one).
    const std::string temp = (std::filesystem::temp_directory_path() / "").parent_path().string();
    store.WriteString("Screenshot", "Path", temp + kPathSeparator);
    store.WriteInt("Screenshot", "Format", 7);
    store.WriteInt("Screenshot", "IntervalEnable", 0);
    store.WriteInt("Screenshot", "Interval", 0);
    s.Open();
    EXPECT_EQ(s.Find<QLineEdit>(s.shots, "edit1033")->text(), "pre");
    EXPECT_EQ(s.Find<QLineEdit>(s.shots, "edit1000")->text(), QString::fromStdString(temp));
    EXPECT_EQ(s.Find<QComboBox>(s.shots, "combo1038")->currentIndex(), -1);
    EXPECT_EQ(s.Find<QLineEdit>(s.shots, "edit1037")->text(), "");
    s.Find<QLineEdit>(s.shots, "edit1037")->setText("30");  // flag clear: written as 0
    s.Ok();
    EXPECT_EQ(s.backend->Stored("Screenshot", "Format"), "Screenshot/Format=-1");
    EXPECT_EQ(s.backend->Stored("Screenshot", "Interval"), "Screenshot/Interval=0");
}

TEST(ScreenshotPage, IntervalIsWrittenWhenItsFlagIsSet) {
    SetupRig s;
    s.Store().WriteInt("Screenshot", "Prompt", 0);
    s.Store().WriteInt("Screenshot", "IntervalEnable", 1);
    s.Store().WriteInt("Screenshot", "Interval", 15);
    s.Open();
    auto* interval = s.Find<QLineEdit>(s.shots, "edit1037");
    EXPECT_EQ(interval->text(), "15");
    EXPECT_TRUE(interval->isEnabled());
    QTest::keyClicks(interval, "a7");  // digits only
    EXPECT_EQ(interval->text(), "157");
    s.Ok();
    EXPECT_EQ(s.backend->Stored("Screenshot", "IntervalEnable"), "Screenshot/IntervalEnable=1");
    EXPECT_EQ(s.backend->Stored("Screenshot", "Interval"), "Screenshot/Interval=157");
}

TEST(ScreenshotPage, BrowseAsksWithTheTitleAndTakesTheFolder) {
    const auto dir = std::filesystem::temp_directory_path() / "velarix_setup_browse";
    std::filesystem::create_directories(dir);
    QString askedTitle;
    QString askedStart;
    CFolderBrowser::SetRunner([&](const QString& title, const QString& start) {
        askedTitle = title;
        askedStart = start;
        return std::optional<QString>(QString::fromStdString(dir.string()));
    });
    SetupRig s;
    s.Store().WriteInt("Screenshot", "Prompt", 0);
    s.Open();
    s.Find<QPushButton>(s.shots, "button1001")->click();
    CFolderBrowser::SetRunner({});
    EXPECT_EQ(askedTitle, "Select the default directory for saving screenshots ...");
    EXPECT_EQ(askedStart, QString::fromStdString(Cwd()));
    EXPECT_EQ(s.Find<QLineEdit>(s.shots, "edit1000")->text(), QString::fromStdString(dir.string()));
    s.Ok();
    EXPECT_EQ(s.backend->Stored("Screenshot", "Path"), "Screenshot/Path=" + dir.string());
    std::filesystem::remove_all(dir);
}

// ---- The video page ----

TEST(VideoPage, FrameRateZeroShowsFiveAndEmptySavesFive) {
    SetupRig s;
    s.Store().WriteInt("AVI", "FPS", 0);
    s.Open();
    s.dialog->SelectPage(1);
    auto* fps = s.Find<QLineEdit>(s.avi, "edit1000");
    EXPECT_EQ(fps->text(), "5");
    fps->clear();
    QTest::keyClicks(fps, "x");  // digits only
    EXPECT_EQ(fps->text(), "");
    s.Ok();
    EXPECT_EQ(s.backend->writes[9], "AVI/FPS=5");
}

TEST(VideoPage, QualityEditMovesTheSliderAndKeepsItsText) {
    SetupRig s;
    s.Store().WriteInt("AVI", "QualityEnable", 1);
    s.Open();
    s.dialog->SelectPage(1);
    auto* edit = s.Find<QLineEdit>(s.avi, "edit1001");
    auto* slider = s.Find<QSlider>(s.avi, "slider1044");
    EXPECT_EQ(slider->value(), 80);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    edit->setText("150");
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(edit->text(), "150");
    // Keys move the slider alone; a released click shows its position.
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(slider->value(), 99);
    EXPECT_EQ(edit->text(), "150");
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(2, slider->height() / 2));
    EXPECT_EQ(edit->text(), QString::number(slider->value()));
    edit->setText("150");
    s.Ok();
    EXPECT_EQ(s.backend->Stored("AVI", "QualityEnable"), "AVI/QualityEnable=1");
    EXPECT_EQ(s.backend->Stored("AVI", "Quality"), "AVI/Quality=150");
}

TEST(VideoPage, QualityFlagEnablesEditAndSlider) {
    SetupRig s;
    s.Open();
    s.dialog->SelectPage(1);
    auto* check = s.Find<QCheckBox>(s.avi, "check1003");
    EXPECT_FALSE(check->isChecked());
    EXPECT_FALSE(s.Find<QLineEdit>(s.avi, "edit1001")->isEnabled());
    EXPECT_FALSE(s.Find<QSlider>(s.avi, "slider1044")->isEnabled());
    check->click();
    EXPECT_TRUE(s.Find<QLineEdit>(s.avi, "edit1001")->isEnabled());
    EXPECT_TRUE(s.Find<QSlider>(s.avi, "slider1044")->isEnabled());
}

TEST(VideoPage, CompressorListSelectsTheStoredLabelOrTheFirst) {
    {
        SetupRig s;
        s.Store().WriteString("AVI", "Codec", "MJPG-3a0164");
        s.Open();
        s.dialog->SelectPage(1);
        auto* list = s.Find<QComboBox>(s.avi, "combo1039");
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->itemText(0), "Microsoft Video 1");
        EXPECT_EQ(list->currentIndex(), 1);
        EXPECT_TRUE(s.Find<QPushButton>(s.avi, "button1002")->isEnabled());  // configurable
        list->setCurrentIndex(0);
        emit list->activated(0);
        EXPECT_FALSE(s.Find<QPushButton>(s.avi, "button1002")->isEnabled());
        s.Ok();
        EXPECT_EQ(s.backend->writes[7], "AVI/Codec=CRAM-3a0164");
    }
    {
        SetupRig s;
        s.Store().WriteString("AVI", "Codec", "XXXX-1");
        s.Open();
        s.dialog->SelectPage(1);
        EXPECT_EQ(s.Find<QComboBox>(s.avi, "combo1039")->currentIndex(), 0);
        s.Ok();
        EXPECT_EQ(s.backend->writes[7], "AVI/Codec=CRAM-3a0164");
    }
}

TEST(VideoPage, NoCompressorsDisableTheListAndStoreAnEmptyLabel) {
    SetupRig s{FakeCodecs{}};
    s.Store().WriteString("AVI", "Codec", "CRAM-3a0164");
    s.Open();
    EXPECT_EQ(s.codecs.starts, 1);  // the page asked for the list when it was made
    s.dialog->SelectPage(1);
    EXPECT_FALSE(s.Find<QComboBox>(s.avi, "combo1039")->isEnabled());
    EXPECT_EQ(s.Find<QComboBox>(s.avi, "combo1039")->count(), 0);
    EXPECT_FALSE(s.Find<QPushButton>(s.avi, "button1002")->isEnabled());
    s.Ok();
    EXPECT_EQ(s.backend->writes[7], "AVI/Codec=");
}

// ---- Configuring a compressor ----

TEST(CodecConfig, ControlsFollowTheOptionKinds) {
    {
        const CodecInfo ffv1 = Codec("FFV1", 1, "ffv1", "FFmpeg video codec #1", true);
        CCodecConfigDialog dialog(ffv1, ListCodecOptions(ffv1), {});
        auto* crc = qobject_cast<QCheckBox*>(dialog.OptionControl("slicecrc"));
        ASSERT_NE(crc, nullptr);
        EXPECT_TRUE(crc->isTristate());  // -1 is "automatic"
        EXPECT_EQ(crc->checkState(), Qt::PartiallyChecked);
        auto* coder = qobject_cast<QComboBox*>(dialog.OptionControl("coder"));
        ASSERT_NE(coder, nullptr);
        EXPECT_GE(coder->count(), 2);
        auto* context = qobject_cast<QSpinBox*>(dialog.OptionControl("context"));
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(context->minimum(), 0);
        EXPECT_EQ(context->maximum(), 1);
        EXPECT_TRUE(dialog.ControlsState().empty());  // all at their defaults
        crc->setCheckState(Qt::Checked);
        coder->setCurrentIndex(coder->findText("range_tab"));
        ASSERT_GE(coder->currentIndex(), 0);
        const std::string value = std::to_string(coder->currentData().toLongLong());
        ASSERT_NE(value, "0");
        EXPECT_EQ(dialog.ControlsState(), (CodecState{{"coder", value}, {"slicecrc", "1"}}));
    }
    {
        const CodecInfo mpeg4 = Codec("FMP4", 1, "mpeg4", "MPEG-4 part 2", true);
        CCodecConfigDialog dialog(mpeg4, ListCodecOptions(mpeg4), {{"qsquish", "1.5"}});
        QWidget* flags = dialog.OptionControl("mpv_flags");
        ASSERT_NE(flags, nullptr);
        EXPECT_GE(flags->findChildren<QCheckBox*>().size(), 2);
        auto* squish = qobject_cast<QDoubleSpinBox*>(dialog.OptionControl("qsquish"));
        ASSERT_NE(squish, nullptr);
        EXPECT_DOUBLE_EQ(squish->maximum(), 99);
        EXPECT_DOUBLE_EQ(squish->value(), 1.5);
    }
    {
        const CodecInfo x264 = Codec("H264", 1, "libx264", "libx264 H.264", true);
        const std::vector<CodecOption> options = ListCodecOptions(x264);
        if (options.empty()) GTEST_SKIP() << "no libx264 in this FFmpeg";
        CCodecConfigDialog dialog(x264, options, {{"preset", "fast"}, {"unknown", "kept"}});
        auto* preset = qobject_cast<QLineEdit*>(dialog.OptionControl("preset"));
        ASSERT_NE(preset, nullptr);
        EXPECT_EQ(preset->text(), "fast");
        dialog.reject();
        EXPECT_EQ(dialog.State(), (CodecState{{"preset", "fast"}, {"unknown", "kept"}}));
    }
}

TEST(CodecConfig, ConfigureStoresTheStateAtOnceAsHex) {
    FakeCodecs codecs;
    codecs.entries.push_back(Codec("cvid", 0x10, "cinepak", "Cinepak", true));
    const std::string label = CodecLabel(codecs.entries[0].fccHandler, 0x10);
    SetupRig s{codecs};
    s.Open();
    s.dialog->SelectPage(1);
    int runs = 0;
    CAviPage::SetConfigureRunner([&runs](CCodecConfigDialog& dialog) {
        ++runs;
        auto* strips = qobject_cast<QSpinBox*>(dialog.OptionControl("max_strips"));
        ASSERT_NE(strips, nullptr);
        EXPECT_EQ(strips->maximum(), 32);
        if (runs == 1) {
            strips->setValue(8);
            dialog.accept();
        } else {
            EXPECT_EQ(strips->value(), 8);  // the stored state came back
            strips->setValue(20);
            dialog.reject();  // the state stays as it was
        }
    });
    auto* configure = s.Find<QPushButton>(s.avi, "button1002");
    ASSERT_TRUE(configure->isEnabled());
    configure->click();
    const std::string hex = BytesToHex(
        std::vector<std::uint8_t>{'m', 'a', 'x', '_', 's', 't', 'r', 'i', 'p', 's', '=', '8'});
    EXPECT_EQ(s.backend->writes, (std::vector<std::string>{"AVI/" + label + "=" + hex}));
    configure->click();
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(*s.backend->memory.ReadString("AVI", label), hex);
    s.Cancel();  // the setup dialog's Cancel keeps the stored state
    CAviPage::SetConfigureRunner({});
    EXPECT_EQ(*s.backend->memory.ReadString("AVI", label), hex);
    EXPECT_FALSE(s.backend->memory.ReadString("AVI", "Codec").has_value());
}

// ---- The caption bar ----

TEST(GradientCaption, StripsRunFromDarkBlueToTheButtonFace) {
    const QColor face(240, 240, 240);
    const QImage img = CGradientCaption::PaintGradient(333, 20, face);
    // W = 332, strips of 2 pixels painted from the right.
    EXPECT_EQ(img.pixelColor(0, 5), face);
    EXPECT_EQ(img.pixelColor(332, 5), QColor(240, 240, 255));
    EXPECT_EQ(img.pixelColor(1, 5), QColor(0, 0, 0));  // the rest at the left
    // p = 331 - 2k; the strip at p = 165 covers x = 166 and 167.
    const long long d = (332 - 165) * (332 - 165);
    const QColor mid(int(240 - 240 * d / (332 * 332)), int(240 - 240 * d / (332 * 332)),
                     int(255 - 240 * d / (332 * 332)));
    EXPECT_EQ(img.pixelColor(166, 10), mid);
    EXPECT_EQ(img.pixelColor(167, 10), mid);
    // Narrow bars use strips of one pixel.
    const QImage narrow = CGradientCaption::PaintGradient(100, 4, face);
    EXPECT_EQ(narrow.pixelColor(99, 0), QColor(240, 240, 255));
    EXPECT_EQ(narrow.pixelColor(1, 0), QColor(0, 0, 0));
}

TEST(GradientCaption, LogoIsEngravedAtTheRightEnd) {
    SetupRig s;
    s.Open();
    CGradientCaption* bar = s.dialog->Caption();
    bar->BuildBackground();
    const QImage plain = CGradientCaption::PaintGradient(bar->width(), bar->height(),
                                                         bar->palette().color(QPalette::Button));
    const QImage withLogo = bar->Background();
    ASSERT_EQ(plain.size(), withLogo.size());
    int changedRight = 0;
    int changedLeft = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (plain.pixel(x, y) != withLogo.pixel(x, y))
                (x > plain.width() / 2 ? changedRight : changedLeft)++;
    EXPECT_GT(changedRight, 20);
    EXPECT_EQ(changedLeft, 0);
    const QImage shown = bar->grab().toImage();
    EXPECT_FALSE(shown.isNull());
}

}  // namespace
}  // namespace velarix::test
