// The setup page of section "Screenshot": the file prompt, the parts of a
// generated name, the image format, the folder, and the interval of periodic
// saving (kept, but not shown).
#pragma once

#include <QPointer>
#include <QString>

#include "setup/CSetupPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace velarix {

class CScreenShotsPage final : public CSetupPage {
    Q_OBJECT
public:
    CScreenShotsPage(SetupContext context, QWidget* parent);
    static CSetupPage* CreateObject(const SetupContext& context, QWidget* parent);

    void OnOK() override;

    // The values as loaded or last exchanged.
    bool PromptFlag() const { return prompt_; }
    QString Prefix() const { return prefix_; }
    QString Suffix() const { return suffix_; }
    int Format() const { return format_; }
    QString Folder() const { return folder_; }
    bool IntervalFlag() const { return intervalFlag_; }
    QString IntervalText() const { return intervalText_; }

protected:
    void BuildControls() override;
    void DoDataExchange(bool save) override;

private:
    void OnBrowse();
    void ApplyEnableRules();

    bool prompt_ = true;
    QString prefix_;
    QString suffix_;
    int format_ = 0;
    QString folder_;
    bool intervalFlag_ = false;
    QString intervalText_;

    QPointer<QLineEdit> prefixEdit_;     // 1033
    QPointer<QLineEdit> suffixEdit_;     // 1034
    QPointer<QComboBox> formatList_;     // 1038
    QPointer<QLineEdit> folderEdit_;     // 1000
    QPointer<QPushButton> browse_;       // 1001
    QPointer<QCheckBox> promptCheck_;    // 1032
    QPointer<QCheckBox> intervalCheck_;  // 1003
    QPointer<QLineEdit> intervalEdit_;   // 1037
};

}  // namespace velarix
