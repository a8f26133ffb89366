#include "setup/CScreenShotsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "capture/Screenshots.h"
#include "setup/CFolderBrowser.h"
#include "setup/SetupText.h"

namespace velarix {

namespace {

constexpr std::string_view kKeyIntervalEnable = setting::kShotIntervalEnable.key;
constexpr std::string_view kKeyInterval = setting::kShotInterval.key;

QString NormalizedFolder(const QString& folder) {
    std::string text = folder.toStdString();
    NormalizeFolder(text);
    return QString::fromStdString(text);
}

QLineEdit* MakeEdit(int id, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("edit%1").arg(id));
    return edit;
}

QCheckBox* MakeCheck(int id, const QString& text, QWidget* parent) {
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QStringLiteral("check%1").arg(id));
    return check;
}

}  // namespace

CScreenShotsPage::CScreenShotsPage(SetupContext context, QWidget* parent)
    : CSetupPage(std::move(context), parent) {
    setObjectName(QStringLiteral("CScreenShotsPage"));
    const SettingsStore& s = Settings();
    prompt_ = Read(s, setting::kShotPrompt) == 1;
    prefix_ = QString::fromStdString(s.GetString(kSectionScreenshot, kKeyPrefix, ""));
    suffix_ = QString::fromStdString(s.GetString(kSectionScreenshot, kKeySuffix, ""));
    format_ = static_cast<int>(Read(s, setting::kShotFormat));
    folder_ =
        NormalizedFolder(QString::fromStdString(s.GetString(kSectionScreenshot, kKeyPath, "")));
    intervalFlag_ = Read(s, setting::kShotIntervalEnable) == 1;
    intervalText_ = QString::fromStdString(FormatStoredInt(Read(s, setting::kShotInterval)));
    if (intervalText_ == QStringLiteral("0")) intervalText_.clear();
}

CSetupPage* CScreenShotsPage::CreateObject(const SetupContext& context, QWidget* parent) {
    return new CScreenShotsPage(context, parent);
}

void CScreenShotsPage::BuildControls() {
    AddGroup(QStringLiteral("Screenshot Saving Settings"), 0, 0, 221, 93);
    AddStatic(QStringLiteral("Filename details (prefixNNNsuffix.format):"), 8, 14, 129, 8);
    AddStatic(QStringLiteral("Prefix:"), 8, 32, 20, 8);
    prefixEdit_ = MakeEdit(1033, this);
    Place(prefixEdit_, 32, 30, 42, 12);
    AddStatic(QStringLiteral("Suffix:"), 80, 32, 20, 8);
    suffixEdit_ = MakeEdit(1034, this);
    Place(suffixEdit_, 104, 30, 42, 12);
    AddStatic(QStringLiteral("Format:"), 152, 32, 24, 8);
    formatList_ = new QComboBox(this);
    formatList_->setObjectName(QStringLiteral("combo1038"));
    formatList_->addItems({QStringLiteral("BMP"), QStringLiteral("JPG"), QStringLiteral("PNG")});
    Place(formatList_, 180, 30, 34, 12);
    AddStatic(QStringLiteral("Path:"), 8, 55, 18, 8);
    folderEdit_ = MakeEdit(1000, this);
    Place(folderEdit_, 32, 53, 161, 12);
    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setObjectName(QStringLiteral("button1001"));
    browse_->setAutoDefault(false);
    browse_->setEnabled(false);
    Place(browse_, 199, 53, 14, 12);
    promptCheck_ = MakeCheck(1032, QStringLiteral("Always prompt for a filename"), this);
    Place(promptCheck_, 32, 75, 134, 8);

    // Periodic saving: kept and written back, never shown.
    AddGroup(QStringLiteral("Interval Settings"), 0, 98, 221, 33, false);
    intervalCheck_ = MakeCheck(1003, QStringLiteral("Save screenshot every"), this);
    Place(intervalCheck_, 9, 112, 89, 10);
    intervalCheck_->hide();
    intervalEdit_ = MakeEdit(1037, this);
    intervalEdit_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), intervalEdit_));
    Place(intervalEdit_, 100, 110, 28, 12);
    intervalEdit_->hide();
    AddStatic(QStringLiteral("sec."), 132, 112, 14, 8, false);

    connect(promptCheck_, &QCheckBox::clicked, this, [this] { UpdateData(true); });
    connect(intervalCheck_, &QCheckBox::clicked, this, [this] { UpdateData(true); });
    connect(browse_, &QPushButton::clicked, this, &CScreenShotsPage::OnBrowse);
}

void CScreenShotsPage::DoDataExchange(bool save) {
    if (save) {
        prompt_ = promptCheck_->isChecked();
        intervalText_ = intervalEdit_->text();
        intervalFlag_ = intervalCheck_->isChecked();
        folder_ = folderEdit_->text();
        prefix_ = prefixEdit_->text();
        suffix_ = suffixEdit_->text();
        format_ = formatList_->currentIndex();
    } else {
        promptCheck_->setChecked(prompt_);
        intervalEdit_->setText(intervalText_);
        intervalCheck_->setChecked(intervalFlag_);
        folderEdit_->setText(folder_);
        prefixEdit_->setText(prefix_);
        suffixEdit_->setText(suffix_);
        // A stored format outside the list leaves it without a selection.
        formatList_->setCurrentIndex(format_ >= 0 && format_ < formatList_->count() ? format_ : -1);
    }
    folder_ = NormalizedFolder(folder_);
    folderEdit_->setText(folder_);
    ApplyEnableRules();
}

void CScreenShotsPage::ApplyEnableRules() {
    const bool named = !prompt_;
    prefixEdit_->setEnabled(named);
    suffixEdit_->setEnabled(named);
    folderEdit_->setEnabled(named);
    browse_->setEnabled(named);
    intervalCheck_->setEnabled(named);
    intervalEdit_->setEnabled(named && intervalFlag_);
}

void CScreenShotsPage::OnBrowse() {
    BrowseFolder(folder_, folderEdit_);
}

void CScreenShotsPage::OnOK() {
    UpdateData(true);
    const SettingsStore& s = Settings();
    s.WriteInt(kSectionScreenshot, kKeyPrompt, prompt_ ? 1 : 0);
    s.WriteString(kSectionScreenshot, kKeyPrefix, prefix_.toStdString());
    s.WriteString(kSectionScreenshot, kKeySuffix, suffix_.toStdString());
    s.WriteString(kSectionScreenshot, kKeyPath, folder_.toStdString());
    s.WriteInt(kSectionScreenshot, kKeyFormat, format_);
    s.WriteInt(kSectionScreenshot, kKeyIntervalEnable, intervalFlag_ ? 1 : 0);
    s.WriteInt(kSectionScreenshot, kKeyInterval,
               intervalFlag_ ? ScanInt(intervalText_.toStdString()).value_or(0) : 0);
}

}  // namespace velarix
