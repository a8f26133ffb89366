#include "app/CAboutBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/Icons.h"

namespace velarix {
namespace {

// The box follows a 228 × 85 dialog-unit layout; a dialog unit is about 1.5
// pixels across and 1.6 pixels down in the usual dialog font.
constexpr int DluX(int units) {
    return units * 3 / 2;
}
constexpr int DluY(int units) {
    return units * 8 / 5;
}

}  // namespace

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    // A box of fixed size: a title, the system menu and the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(ProgramIcon());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("programIcon"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    icon->setFixedSize(32, 32);

    auto* version = new QLabel(QString::fromLatin1(kVersionLine), this);
    version->setObjectName(QStringLiteral("versionLine"));
    auto* notice = new QLabel(QString::fromLatin1(kNoticeLine), this);
    notice->setObjectName(QStringLiteral("noticeLine"));
    auto* caption = new QLabel(QString::fromLatin1(kInfoCaption), this);
    caption->setObjectName(QStringLiteral("infoCaption"));

    infoEdit_ = new QPlainTextEdit(this);
    infoEdit_->setObjectName(QStringLiteral("additionalInfo"));
    infoEdit_->setReadOnly(true);
    infoEdit_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    infoEdit_->setMinimumWidth(DluX(175));
    infoEdit_->setFixedHeight(DluY(36));
    infoEdit_->setTabChangesFocus(true);
    caption->setBuddy(infoEdit_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumSize(DluX(37), DluY(14));
    connect(ok, &QPushButton::clicked, this, &CAboutBox::accept);

    // Icon and the two lines at the top left, OK at the top right, the
    // additional information across the bottom.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(DluX(7), DluY(7), DluX(7), DluY(6));
    grid->setHorizontalSpacing(DluX(8));
    grid->setVerticalSpacing(DluY(2));
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(notice, 1, 1);
    grid->addWidget(ok, 0, 2, 2, 1, Qt::AlignTop);
    grid->addWidget(caption, 2, 0, 1, 2);
    grid->addWidget(infoEdit_, 3, 0, 1, 2);
    grid->setRowMinimumHeight(2, DluY(12));
    grid->setSizeConstraint(QLayout::SetFixedSize);

    DoDataExchange(false);
    ok->setFocus();
}

void CAboutBox::SetAdditionalInfo(const QString& text) {
    additionalInfo_ = text;
    DoDataExchange(false);
}

void CAboutBox::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate)
        additionalInfo_ = infoEdit_->toPlainText();
    else
        infoEdit_->setPlainText(additionalInfo_);
}

void CAboutBox::accept() {
    DoDataExchange(true);
    QDialog::accept();
}

}  // namespace velarix
