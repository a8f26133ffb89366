#include "setup/CSetupDialog.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

#include "setup/CAviPage.h"
#include "setup/CGradientCaption.h"
#include "setup/CScreenShotsPage.h"

namespace velarix {

namespace {

// The caption bar as the dialog sets it up.
constexpr int kCaptionHeight = 14;
constexpr int kCaptionWeight = 700;
constexpr char kCaptionFace[] = "Verdana";

QPushButton* MakeButton(const QString& text, int id, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CSetupDialog::CSetupDialog(SetupContext context, QWidget* parent)
    : QDialog(parent),
      context_(std::move(context)),
      units_(DialogFont()),
      tree_(new QTreeWidget(this)),
      pageFrame_(new QFrame(this)),
      caption_(new CGradientCaption(this)),
      okButton_(MakeButton(QStringLiteral("OK"), 1, this)),
      cancelButton_(MakeButton(QStringLiteral("Cancel"), 2, this)),
      applyButton_(MakeButton(QStringLiteral("Apply"), 4, this)) {
    setObjectName(QStringLiteral("CSetupDialog"));
    setFont(DialogFont());
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(units_.Map(0, 0, 330, 203).size());

    tree_->setObjectName(QStringLiteral("tree1010"));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setDragEnabled(false);
    tree_->setGeometry(units_.Map(4, 4, 96, 176));

    pageFrame_->setObjectName(QStringLiteral("static1011"));
    static_cast<QFrame*>(pageFrame_)->setFrameStyle(QFrame::Box | QFrame::Plain);
    pageFrame_->setGeometry(units_.Map(103, 20, 224, 161));
    pageFrame_->hide();

    caption_->setObjectName(QStringLiteral("caption1012"));
    caption_->setGeometry(units_.Map(104, 4, 222, 12));

    okButton_->setDefault(true);
    okButton_->setGeometry(units_.Map(4, 184, 56, 15));
    cancelButton_->setGeometry(units_.Map(64, 184, 56, 15));
    applyButton_->setGeometry(units_.Map(124, 184, 56, 15));
    applyButton_->hide();

    connect(okButton_, &QPushButton::clicked, this, &CSetupDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &CSetupDialog::reject);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &CSetupDialog::OnSelectionChanged);
}

CSetupDialog::~CSetupDialog() = default;

CSetupPage* CSetupDialog::AddPage(SetupPageFactory factory, const QString& caption,
                                  int templateId) {
    if (initialized_ || !factory) return nullptr;
    CSetupPage* page = factory(context_, this);
    if (!page) return nullptr;
    pages_.push_back(SetupPageInfo{templateId, page, caption});
    return page;
}

CSetupPage* CSetupDialog::Page(int index) const {
    if (index < 0 || index >= PageCount()) return nullptr;
    return pages_[static_cast<std::size_t>(index)].page;
}

void CSetupDialog::showEvent(QShowEvent* event) {
    if (!initialized_) InitDialog();
    QDialog::showEvent(event);
}

void CSetupDialog::InitDialog() {
    initialized_ = true;
    pageRect_ = pageFrame_->geometry().adjusted(2, 2, -2, -2);
    setWindowTitle(title_);

    caption_->SetCaptionColor(palette().color(QPalette::Button));
    caption_->SetCaptionWeight(kCaptionWeight);
    caption_->SetCaptionHeight(kCaptionHeight);
    caption_->SetFaceName(QString::fromLatin1(kCaptionFace));
    caption_->SetLogoText(logoText_);

    {
        const QSignalBlocker block(tree_);
        for (std::size_t i = 0; i < pages_.size(); ++i) {
            auto* item = new QTreeWidgetItem(tree_, QStringList{pages_[i].caption});
            item->setData(0, Qt::UserRole, static_cast<int>(i));
            pageItems_[pages_[i].page] = item;
        }
        tree_->expandAll();
    }
    if (!pages_.empty()) ShowPage(pages_.front(), true);
    if (QTreeWidgetItem* current = tree_->currentItem()) tree_->scrollToItem(current);
    applyButton_->setEnabled(false);
}

SetupPageInfo* CSetupDialog::InfoOf(QTreeWidgetItem* item) {
    if (!item) return nullptr;
    bool ok = false;
    const int index = item->data(0, Qt::UserRole).toInt(&ok);
    if (!ok || index < 0 || index >= PageCount()) return nullptr;
    return &pages_[static_cast<std::size_t>(index)];
}

void CSetupDialog::ShowPage(SetupPageInfo& info, bool show) {
    caption_->SetText(QString());
    CSetupPage* page = info.page;
    if (!page->HasWindow()) {
        page->CreatePage();
        page->setGeometry(pageRect_);
        // The tab order runs from the tree into the page, then to the buttons.
        QWidget* previous = tree_;
        for (QWidget* child : page->findChildren<QWidget*>()) {
            if (!(child->focusPolicy() & Qt::TabFocus) || child->isHidden()) continue;
            QWidget::setTabOrder(previous, child);
            previous = child;
        }
        QWidget::setTabOrder(previous, okButton_);
    }
    page->setVisible(show);
    if (!show) return;

    // The focus goes into the page, to its first control that takes it.
    QWidget* focus = page;
    for (QWidget* child : page->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && !child->isHidden() && child->isEnabled()) {
            focus = child;
            break;
        }
    }
    focus->setFocus(Qt::OtherFocusReason);
    if (const auto it = pageItems_.find(page); it != pageItems_.end()) {
        const QSignalBlocker block(tree_);
        tree_->setCurrentItem(it->second);
    }
    caption_->SetText(info.caption);
}

void CSetupDialog::SelectPage(int index) {
    if (index < 0 || index >= PageCount()) return;
    const auto it = pageItems_.find(pages_[static_cast<std::size_t>(index)].page);
    if (it != pageItems_.end()) tree_->setCurrentItem(it->second);
}

void CSetupDialog::OnSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    SetupPageInfo* next = InfoOf(current);
    if (!next) return;
    if (SetupPageInfo* old = InfoOf(previous); old && old != next) ShowPage(*old, false);
    ShowPage(*next, true);
}

void CSetupDialog::TearDown() {
    for (SetupPageInfo& info : pages_)
        if (info.page->HasWindow()) info.page->DestroyPage();
}

void CSetupDialog::accept() {
    for (SetupPageInfo& info : pages_)
        if (info.page->HasWindow()) info.page->OnOK();
    TearDown();
    QDialog::accept();
}

void CSetupDialog::reject() {
    TearDown();
    QDialog::reject();
}

void CSetupDialog::keyPressEvent(QKeyEvent* event) {
    // Escape neither cancels nor closes the dialog.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

int RunSetupDialog(SettingsStore settings, QWidget* parent) {
    CSetupDialog dialog(SetupContext{std::move(settings), nullptr}, parent);
    dialog.AddPage(&CScreenShotsPage::CreateObject, QStringLiteral("Screenshots"),
                   kScreenShotsPageTemplate);
    dialog.AddPage(&CAviPage::CreateObject, QStringLiteral("Video (AVI)"), kAviPageTemplate);
    dialog.SetTitle(QStringLiteral("Ostrel Setup"));
    dialog.SetLogoText(QStringLiteral("Ostrel"));
    return dialog.exec();
}

}  // namespace velarix
