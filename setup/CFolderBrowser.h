// The folder browser of the setup pages: the platform's folder dialog, only
// file-system folders, starting at the page's folder.
#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace velarix {

// The title both setup pages give the folder browser.
inline constexpr char kBrowseFolderTitle[] =
    "Select the default directory for saving screenshots ...";

class CFolderBrowser {
public:
    // Stands in for the dialog (tests): gets the title and the initial folder,
    // returns the chosen folder or nothing for Cancel.
    using Runner =
        std::function<std::optional<QString>(const QString& title, const QString& initialFolder)>;

    QString folder;         // the result
    QString rootFolder;     // where browsing is confined; empty: everywhere
    QString initialFolder;  // selected when the dialog opens
    QString title;          // "Open" when empty

    // Runs the dialog; true when a folder was chosen, which is then in `folder`.
    bool Browse();

    // Replaces the dialog for every browser until reset with an empty runner.
    static void SetRunner(Runner runner);

private:
    static Runner& CurrentRunner();
};

}  // namespace velarix
