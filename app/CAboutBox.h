// The about box: program icon, version line, notice line and the
// additional-information text in a read-only box, closed with OK.
#pragma once

#include <QDialog>
#include <QString>

#include "VelarixVersion.h"

class QPlainTextEdit;

namespace velarix {

class CAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kTitle = "About ...";
    static constexpr const char* kVersionLine = "Velarix - Version " VELARIX_VERSION;
    static constexpr const char* kNoticeLine = "Copyright (C) 2026 Orvelle. All rights reserved.";
    static constexpr const char* kInfoCaption = "Additional information:";
    static constexpr const char* kDefaultInfo =
        "For Sony Ericsson P800/P900 and Motorola A920/A925";

    explicit CAboutBox(QWidget* parent = nullptr);

    // The additional-information text. Setting it shows it in the box.
    const QString& AdditionalInfo() const { return additionalInfo_; }
    void SetAdditionalInfo(const QString& text);

    // Moves the text between the member and the box: into the member when
    // `saveAndValidate`, into the box otherwise.
    void DoDataExchange(bool saveAndValidate);

public slots:
    void accept() override;

private:
    QString additionalInfo_ = QString::fromLatin1(kDefaultInfo);
    QPlainTextEdit* infoEdit_;
};

}  // namespace velarix
