// What the setup dialog knows of a page, and the dialog-unit layout that the
// pages and the dialog share. A page object exists from its registration on
// and loads its values then; its window (the controls) is made the first time
// the page is shown and lives until the dialog is torn down.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QLineEdit;

#include "settings/SettingsStore.h"

namespace velarix {

class ICodecList;

// What a page is built with.
struct SetupContext {
    SettingsStore settings;
    // The compressor list of the video page; null: the process-wide table.
    ICodecList* codecs = nullptr;
};

// Dialog units of the dialogs' font: a quarter of the average character
// width across, an eighth of the character height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect Map(int x, int y, int w, int h) const;
    int MapX(int x) const;
    int MapY(int y) const;

private:
    int baseX_;
    int baseY_;
};

// The font of the dialog templates ("MS Sans Serif" 8), with a fallback.
QFont DialogFont();

class CSetupPage : public QWidget {
    Q_OBJECT
public:
    CSetupPage(SetupContext context, QWidget* parent);

    // True from the first showing until the tear-down.
    bool HasWindow() const { return hasWindow_; }
    // Makes the controls and runs the loading exchange; nothing when they exist.
    void CreatePage();
    // Removes the controls; the page object and its values stay.
    void DestroyPage();

    // The exchange between the values and the controls; `save` takes the
    // controls' values. Needs the window.
    void UpdateData(bool save = true);
    // Takes the controls' values and writes the page's settings.
    virtual void OnOK() = 0;

    // The control with this numeric id ("edit1033", "check1032", ...), or null.
    QWidget* Control(int id) const;

protected:
    virtual void BuildControls() = 0;
    virtual void DoDataExchange(bool save) = 0;

    const SettingsStore& Settings() const { return context_.settings; }
    const SetupContext& Context() const { return context_; }
    const DialogUnits& Units() const { return units_; }
    // Places `w` at a template rectangle (dialog units); check boxes and
    // buttons are kept at least as tall as they need, centred on the row.
    void Place(QWidget* w, int x, int y, int width, int height) const;
    // A static text, a group box.
    QWidget* AddStatic(const QString& text, int x, int y, int width, int height,
                       bool visible = true);
    QWidget* AddGroup(const QString& text, int x, int y, int width, int height,
                      bool visible = true);
    // The folder browse button of both pages: takes the controls' values,
    // lets the user pick a folder starting at `folder`, and shows the choice
    // in `edit` before the values are taken again.
    void BrowseFolder(QString& folder, QLineEdit* edit);

private:
    SetupContext context_;
    DialogUnits units_;
    bool hasWindow_ = false;
};

// Makes a page object of one class; the runtime class of the page.
using SetupPageFactory = CSetupPage* (*)(const SetupContext& context, QWidget* parent);

}  // namespace velarix
