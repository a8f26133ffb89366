#include "setup/CAviPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <thread>

#include "capture/CodecOptions.h"
#include "capture/CompressorState.h"
#include "capture/Recorder.h"
#include "capture/Screenshots.h"
#include "setup/CCodecConfigDialog.h"
#include "setup/CFolderBrowser.h"
#include "setup/SetupText.h"

namespace velarix {

namespace {

constexpr std::string_view kKeyCodec = "Codec";
constexpr std::string_view kKeyQualityEnable = setting::kAviQualityEnable.key;
constexpr std::string_view kKeyQuality = setting::kAviQuality.key;
// Waits for a running enumeration: 20 checks, 100 ms apart.
constexpr int kBusyChecks = 20;
constexpr auto kBusyInterval = std::chrono::milliseconds(100);
// The list shows at most this many characters of a description.
constexpr int kMaxDescription = 63;

QString NormalizedFolder(const QString& folder) {
    std::string text = folder.toStdString();
    NormalizeFolder(text);
    return QString::fromStdString(text);
}

QLineEdit* MakeEdit(int id, QWidget* parent, bool digitsOnly) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    if (digitsOnly)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

}  // namespace

void ProcessCodecList::StartEnumeration() {
    CodecTable::Instance().StartEnumeration();
}
bool ProcessCodecList::Busy() const {
    return CodecTable::Instance().Busy();
}
int ProcessCodecList::Count() const {
    return CodecTable::Instance().Count();
}
const CodecInfo& ProcessCodecList::Entry(int index) const {
    return CodecTable::Instance().Entry(index);
}
int ProcessCodecList::FindCodecByLabel(std::string_view label) const {
    return CodecTable::Instance().FindCodecByLabel(label);
}

ICodecList& ProcessCodecs() {
    static ProcessCodecList list;
    return list;
}

CAviPage::ConfigureRunner& CAviPage::CurrentConfigureRunner() {
    static ConfigureRunner runner;
    return runner;
}

void CAviPage::SetConfigureRunner(ConfigureRunner runner) {
    CurrentConfigureRunner() = std::move(runner);
}

CAviPage::CAviPage(SetupContext context, QWidget* parent)
    : CSetupPage(std::move(context), parent),
      codecs_(Context().codecs ? *Context().codecs : ProcessCodecs()) {
    setObjectName(QStringLiteral("CAviPage"));
    const SettingsStore& s = Settings();
    folder_ = NormalizedFolder(QString::fromStdString(s.GetString(kSectionAvi, kKeyPath, "")));
    fpsText_ = QString::fromStdString(FormatStoredInt(Read(s, setting::kAviFps)));
    if (fpsText_ == QStringLiteral("0")) fpsText_ = QStringLiteral("5");
    const std::uint32_t quality = Read(s, setting::kAviQuality);
    qualityText_ = QString::fromStdString(FormatStoredInt(quality));
    qualityPos_ = static_cast<int>(quality);
    qualityFlag_ = Read(s, setting::kAviQualityEnable) == 1;

    // Listing the compressors takes a while: it starts now, in the background,
    // before the user turns to this page.
    if (codecs_.Count() == 0 && !codecs_.Busy()) codecs_.StartEnumeration();
}

CSetupPage* CAviPage::CreateObject(const SetupContext& context, QWidget* parent) {
    return new CAviPage(context, parent);
}

void CAviPage::BuildControls() {
    AddGroup(QStringLiteral("Video Codec Settings"), 0, 0, 221, 52);
    AddStatic(QStringLiteral("Select and configure a video codec for saving AVI files."), 8, 14,
              176, 8);
    AddStatic(QStringLiteral("Codec:"), 8, 32, 24, 8);
    codecList_ = new QComboBox(this);
    codecList_->setObjectName(QStringLiteral("combo1039"));
    codecList_->addItem(QString());  // removed by the first exchange
    Place(codecList_, 38, 30, 126, 12);
    configure_ = new QPushButton(QStringLiteral("Configure"), this);
    configure_->setObjectName(QStringLiteral("button1002"));
    configure_->setAutoDefault(false);
    Place(configure_, 172, 30, 41, 13);

    AddGroup(QStringLiteral("Video Settings"), 0, 56, 221, 33);
    AddStatic(QStringLiteral("Frames per sec.:"), 8, 71, 53, 8);
    fpsEdit_ = MakeEdit(1000, this, true);
    Place(fpsEdit_, 67, 69, 21, 12);
    qualityCheck_ = new QCheckBox(QStringLiteral("Quality:"), this);
    qualityCheck_->setObjectName(QStringLiteral("check1003"));
    Place(qualityCheck_, 105, 70, 39, 10);
    qualitySlider_ = new QSlider(Qt::Horizontal, this);
    qualitySlider_->setObjectName(QStringLiteral("slider1044"));
    qualitySlider_->setTickPosition(QSlider::NoTicks);
    qualitySlider_->setRange(0, 100);
    qualitySlider_->installEventFilter(this);
    Place(qualitySlider_, 141, 67, 49, 15);
    qualityEdit_ = MakeEdit(1001, this, true);
    Place(qualityEdit_, 192, 69, 19, 12);

    // The video folder: kept and written back, never shown.
    AddGroup(QStringLiteral("Video Saving Settings"), 0, 93, 221, 36, false);
    AddStatic(QStringLiteral("Path:"), 8, 109, 18, 8, false);
    folderEdit_ = MakeEdit(1040, this, false);
    Place(folderEdit_, 32, 107, 161, 12);
    folderEdit_->hide();
    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setObjectName(QStringLiteral("button1041"));
    browse_->setAutoDefault(false);
    Place(browse_, 199, 107, 14, 12);
    browse_->hide();

    AddStatic(
        QStringLiteral("- Try to use 'Microsoft Video 1'. Use 'Configure' to set quality to 80."),
        0, 147, 221, 9);

    connect(codecList_, &QComboBox::activated, this, [this] { UpdateData(true); });
    connect(qualityCheck_, &QCheckBox::clicked, this, [this] { UpdateData(true); });
    connect(qualityEdit_, &QLineEdit::textChanged, this, &CAviPage::OnQualityTextChanged);
    connect(configure_, &QPushButton::clicked, this, &CAviPage::OnConfigure);
    connect(browse_, &QPushButton::clicked, this, &CAviPage::OnBrowse);
}

void CAviPage::WaitWhileBusy() const {
    for (int check = 0; check < kBusyChecks && codecs_.Busy(); ++check)
        std::this_thread::sleep_for(kBusyInterval);
}

void CAviPage::DoDataExchange(bool save) {
    if (save) {
        compressorIndex_ = codecList_->currentIndex();
        folder_ = folderEdit_->text();
        fpsText_ = fpsEdit_->text();
        qualityText_ = qualityEdit_->text();
        qualityPos_ = qualitySlider_->value();
        qualityFlag_ = qualityCheck_->isChecked();
    } else {
        codecList_->setCurrentIndex(compressorIndex_ >= 0 && compressorIndex_ < codecList_->count()
                                        ? compressorIndex_
                                        : -1);
        folderEdit_->setText(folder_);
        fpsEdit_->setText(fpsText_);
        qualityEdit_->setText(qualityText_);
        qualitySlider_->setValue(qualityPos_);
        qualityCheck_->setChecked(qualityFlag_);
    }

    WaitWhileBusy();
    folder_ = NormalizedFolder(folder_);
    folderEdit_->setText(folder_);

    const QSignalBlocker block(codecList_);
    codecList_->clear();
    if (compressorIndex_ == -1)
        compressorIndex_ =
            codecs_.FindCodecByLabel(Settings().GetString(kSectionAvi, kKeyCodec, ""));
    const int count = codecs_.Count();
    const bool valid = compressorIndex_ >= 0 && compressorIndex_ < count;
    codecList_->setEnabled(count > 0);
    configure_->setEnabled(count > 0 && valid && codecs_.Entry(compressorIndex_).configurable);
    if (count > 0) {
        for (int i = 0; i < count; ++i)
            codecList_->addItem(
                QString::fromStdString(codecs_.Entry(i).description).left(kMaxDescription));
        codecList_->setCurrentIndex(valid ? compressorIndex_ : -1);
    }
    qualitySlider_->setRange(0, 100);
    qualityEdit_->setEnabled(qualityFlag_);
    qualitySlider_->setEnabled(qualityFlag_);
}

void CAviPage::OnQualityTextChanged(const QString& text) {
    // The slider follows what is typed; the text itself is not corrected.
    const std::optional<int> value = ScanInt(text.toStdString());
    if (!value || !qualitySlider_) return;
    qualitySlider_->setValue(std::clamp(*value, 0, 100));
}

bool CAviPage::eventFilter(QObject* watched, QEvent* event) {
    // The type first: the slider also reports events while it is being destroyed.
    if (event->type() == QEvent::MouseButtonRelease && watched == qualitySlider_ && qualityEdit_) {
        // The end of a drag or a click, which have already moved the slider:
        // the edit shows where it stopped. Keys move the slider alone.
        qualityEdit_->setText(QString::number(qualitySlider_->value()));
    }
    return CSetupPage::eventFilter(watched, event);
}

void CAviPage::OnBrowse() {
    BrowseFolder(folder_, folderEdit_);
}

void CAviPage::OnConfigure() {
    UpdateData(true);
    if (compressorIndex_ < 0 || compressorIndex_ >= codecs_.Count()) return;
    const CodecInfo& info = codecs_.Entry(compressorIndex_);
    // The encoder must be there and have options of its own to configure.
    if (!info.configurable) return;
    std::vector<CodecOption> options = ListCodecOptions(info);
    if (options.empty()) return;

    const std::string label = CodecLabel(info.fccHandler, info.version);
    const CodecState stored = ReadCodecState(Settings(), label);
    CCodecConfigDialog dialog(info, std::move(options), stored, window());
    if (const ConfigureRunner& runner = CurrentConfigureRunner())
        runner(dialog);
    else
        dialog.exec();

    // Stored at once, whatever becomes of the setup dialog. A state back at
    // the defaults replaces a saved one, so that it does not linger.
    const CodecState& state = dialog.State();
    if (!state.empty() || !stored.empty()) WriteCodecState(Settings(), label, state);
}

void CAviPage::OnOK() {
    UpdateData(true);
    const SettingsStore& s = Settings();
    const int count = codecs_.Count();
    std::string label;
    if (count > 0 && compressorIndex_ >= 0 && compressorIndex_ < count) {
        const CodecInfo& info = codecs_.Entry(compressorIndex_);
        label = CodecLabel(info.fccHandler, info.version);
    }
    s.WriteString(kSectionAvi, kKeyCodec, label);
    s.WriteString(kSectionAvi, kKeyPath, folder_.toStdString());
    const std::optional<int> fps = ScanInt(fpsText_.toStdString());
    s.WriteInt(kSectionAvi, kKeyFps, fps && *fps != 0 ? *fps : kDefaultFps);
    s.WriteInt(kSectionAvi, kKeyQualityEnable, qualityFlag_ ? 1 : 0);
    s.WriteInt(kSectionAvi, kKeyQuality, ScanInt(qualityText_.toStdString()).value_or(0));
}

}  // namespace velarix
