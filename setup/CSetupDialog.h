// The setup dialog: a tree of page names, the page area with the caption bar
// above it, and OK and Cancel. It hosts its pages as child widgets, makes each
// page's controls the first time the page is shown, and keeps them across
// page switches. OK lets every page that was shown save its settings; Cancel
// and the close box save nothing; Escape does nothing.
#pragma once

#include <QDialog>
#include <QRect>
#include <QString>
#include <map>
#include <vector>

#include "setup/CSetupPage.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velarix {

class CGradientCaption;

// Template numbers of the pages.
inline constexpr int kScreenShotsPageTemplate = 136;
inline constexpr int kAviPageTemplate = 137;

struct SetupPageInfo {
    int templateId = 0;
    CSetupPage* page = nullptr;  // a child of the dialog
    QString caption;
};

class CSetupDialog final : public QDialog {
    Q_OBJECT
public:
    explicit CSetupDialog(SetupContext context, QWidget* parent = nullptr);
    ~CSetupDialog() override;

    // Registers a page made by `factory`; the page loads its values now.
    // Nothing once the dialog has been initialised (shown).
    CSetupPage* AddPage(SetupPageFactory factory, const QString& caption, int templateId);
    void SetTitle(const QString& title) { title_ = title; }
    void SetLogoText(const QString& text) { logoText_ = text; }

    int PageCount() const { return static_cast<int>(pages_.size()); }
    CSetupPage* Page(int index) const;
    QTreeWidget* Tree() const { return tree_; }
    CGradientCaption* Caption() const { return caption_; }
    QPushButton* OkButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    QPushButton* ApplyButton() const { return applyButton_; }
    // Where every page is placed, in dialog client coordinates.
    QRect PageRect() const { return pageRect_; }
    bool Initialized() const { return initialized_; }

    // Selects the page's tree item, which shows it and hides the current one.
    void SelectPage(int index);

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void InitDialog();
    void ShowPage(SetupPageInfo& info, bool show);
    void OnSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void TearDown();
    SetupPageInfo* InfoOf(QTreeWidgetItem* item);

    SetupContext context_;
    DialogUnits units_;
    QTreeWidget* tree_;
    QWidget* pageFrame_;
    CGradientCaption* caption_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QPushButton* applyButton_;
    QString title_;
    QString logoText_;
    std::vector<SetupPageInfo> pages_;
    std::map<CSetupPage*, QTreeWidgetItem*> pageItems_;
    QRect pageRect_;
    bool initialized_ = false;
};

// Builds the dialog with the screenshot and the video page, runs it modally
// and returns QDialog::Accepted or QDialog::Rejected.
int RunSetupDialog(SettingsStore settings, QWidget* parent = nullptr);

}  // namespace velarix
