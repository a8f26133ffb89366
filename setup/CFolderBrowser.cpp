#include "setup/CFolderBrowser.h"

#include <QDir>
#include <QFileDialog>

namespace velarix {

CFolderBrowser::Runner& CFolderBrowser::CurrentRunner() {
    static Runner runner;
    return runner;
}

void CFolderBrowser::SetRunner(Runner runner) {
    CurrentRunner() = std::move(runner);
}

bool CFolderBrowser::Browse() {
    const QString shownTitle = title.isEmpty() ? QStringLiteral("Open") : title;
    std::optional<QString> chosen;
    if (const Runner& runner = CurrentRunner()) {
        chosen = runner(shownTitle, initialFolder);
    } else {
        QString start = initialFolder;
        if (!rootFolder.isEmpty() &&
            !QDir::cleanPath(start).startsWith(QDir::cleanPath(rootFolder)))
            start = rootFolder;
        const QString result = QFileDialog::getExistingDirectory(
            nullptr, shownTitle, start,
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        if (!result.isEmpty()) chosen = result;
    }
    if (!chosen || chosen->isEmpty()) return false;
    folder = QDir::toNativeSeparators(*chosen);
    return true;
}

}  // namespace velarix
