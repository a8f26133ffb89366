// The setup page of section "AVI": the video compressor and its configuration,
// the frame rate and the quality, and the video folder (kept, but not shown).
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <string_view>

#include "capture/CodecTable.h"
#include "setup/CSetupPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;

namespace velarix {

class CCodecConfigDialog;

// The compressor list as the video page sees it: the process-wide table in
// the program, a fixed list in tests.
class ICodecList {
public:
    virtual ~ICodecList() = default;
    // Fills the list in the background when it is empty and nobody fills it.
    virtual void StartEnumeration() = 0;
    virtual bool Busy() const = 0;
    virtual int Count() const = 0;
    virtual const CodecInfo& Entry(int index) const = 0;
    // The first entry whose label is `label`; 0 when none is.
    virtual int FindCodecByLabel(std::string_view label) const = 0;
};

// ICodecList over CodecTable::Instance().
class ProcessCodecList final : public ICodecList {
public:
    void StartEnumeration() override;
    bool Busy() const override;
    int Count() const override;
    const CodecInfo& Entry(int index) const override;
    int FindCodecByLabel(std::string_view label) const override;
};
ICodecList& ProcessCodecs();

class CAviPage final : public CSetupPage {
    Q_OBJECT
public:
    CAviPage(SetupContext context, QWidget* parent);
    static CSetupPage* CreateObject(const SetupContext& context, QWidget* parent);

    void OnOK() override;

    // Stands in for running the configure dialog (tests); the dialog's
    // accept() or reject() ends it as the user would.
    using ConfigureRunner = std::function<void(CCodecConfigDialog& dialog)>;
    static void SetConfigureRunner(ConfigureRunner runner);

    // The values as loaded or last exchanged.
    int CompressorIndex() const { return compressorIndex_; }
    QString Folder() const { return folder_; }
    QString FpsText() const { return fpsText_; }
    QString QualityText() const { return qualityText_; }
    int QualityPosition() const { return qualityPos_; }
    bool QualityFlag() const { return qualityFlag_; }

    // The Configure button's work: the chosen compressor's dialog, and its
    // state stored at once under the compressor's label.
    void OnConfigure();

protected:
    void BuildControls() override;
    void DoDataExchange(bool save) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ICodecList& Codecs() const { return codecs_; }
    void WaitWhileBusy() const;
    void OnQualityTextChanged(const QString& text);
    void OnBrowse();
    static ConfigureRunner& CurrentConfigureRunner();

    ICodecList& codecs_;
    int compressorIndex_ = -1;
    QString folder_;
    QString fpsText_;
    QString qualityText_;
    int qualityPos_ = 0;
    bool qualityFlag_ = false;

    QPointer<QComboBox> codecList_;     // 1039
    QPointer<QPushButton> configure_;   // 1002
    QPointer<QLineEdit> fpsEdit_;       // 1000
    QPointer<QCheckBox> qualityCheck_;  // 1003
    QPointer<QSlider> qualitySlider_;   // 1044
    QPointer<QLineEdit> qualityEdit_;   // 1001
    QPointer<QLineEdit> folderEdit_;    // 1040
    QPointer<QPushButton> browse_;      // 1041
};

}  // namespace velarix
