// The save dialog of the "Save screenshot" command, in Qt: what SaveScreenshot
// is handed as its dialog in the program.
#pragma once

#include <optional>

#include "capture/Screenshots.h"

class QWidget;

namespace velarix {

// Asks for the screenshot's file name with the platform's save dialog: the
// three image types with `request.typeIndex` preselected, `request.initialDir`
// as the starting folder and `request.initialName` (a full path, whose folder
// then wins) as the offered name. The dialog asks before an existing file is
// overwritten and adds no extension of its own; SaveScreenshot adds the
// selected type's. The chosen path comes back as UTF-8 with the platform's
// separators, with the row of the type selected when the dialog closed.
// Nothing when the user cancels.
std::optional<SaveDialogResult> RunScreenshotSaveDialog(QWidget* parent,
                                                        const SaveDialogRequest& request);

// RunScreenshotSaveDialog bound to a parent, ready for SaveScreenshot.
SaveDialogFn ScreenshotSaveDialog(QWidget* parent);

}  // namespace velarix
