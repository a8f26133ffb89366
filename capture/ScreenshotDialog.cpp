#include "capture/ScreenshotDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace velarix {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList ImageTypeFilters() {
    QStringList filters;
    for (const ImageFormat& row : kImageFormats) filters << FromUtf8(row.dialogType);
    return filters;
}

}  // namespace

std::optional<SaveDialogResult> RunScreenshotSaveDialog(QWidget* parent,
                                                        const SaveDialogRequest& request) {
    const QStringList filters = ImageTypeFilters();
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    // The typed name's own extension decides the format, so the dialog must
    // not add one behind the user's back.
    dialog.setDefaultSuffix(QString());
    dialog.setNameFilters(filters);
    // The type first: in a save dialog, choosing a type rewrites the extension
    // of a name already offered.
    dialog.selectNameFilter(
        filters.value(ClampImageFormat(static_cast<std::uint32_t>(request.typeIndex))));
    if (!request.initialDir.empty())
        dialog.setDirectory(QString::fromStdString(request.initialDir));
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    const auto type = filters.indexOf(dialog.selectedNameFilter());
    // UTF-8 is what the settings and the core take; the core turns it into the
    // platform's form where it touches the file system.
    return SaveDialogResult{QDir::toNativeSeparators(files.front()).toStdString(),
                            type < 0 ? kFormatBmp : static_cast<int>(type)};
}

SaveDialogFn ScreenshotSaveDialog(QWidget* parent) {
    // The view may go before the command object that holds this; then the
    // dialog simply has no parent.
    return [guard = QPointer<QWidget>(parent)](const SaveDialogRequest& request) {
        return RunScreenshotSaveDialog(guard.data(), request);
    };
}

}  // namespace velarix
