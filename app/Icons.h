// Every picture of the program, drawn in code: the program icon, the tray
// icon, the two pictures of the screenshot drop-down, and the images of the
// main toolbar and of the recording toolbar. They share one flat look built
// around the phone the program mirrors: a slate body, a blue screen and the
// light flip keypad below it.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <array>

namespace velarix {

// Image cell of a main-toolbar button and of a recording-toolbar button.
inline constexpr QSize kToolbarImageSize{27, 33};
inline constexpr QSize kRecordBarImageSize{18, 17};

// The main toolbar's images, in the order of its buttons (separators do not
// count). Images 0 to 18; the hidden buttons only lend their images.
inline constexpr int kToolbarImageCount = 19;
namespace toolbar_image {
inline constexpr int kDisconnect = 0;
inline constexpr int kCopyScreenshot = 1;
inline constexpr int kRecord = 2;
inline constexpr int kSimulateKeys = 3;
inline constexpr int kTaskList = 4;
inline constexpr int kKeyAbc = 5;
inline constexpr int kKeyClear = 6;
inline constexpr int kSaveScreenshot = 7;
inline constexpr int kConnect = 9;
inline constexpr int kChooseCopy = 14;
inline constexpr int kChooseSave = 15;
}  // namespace toolbar_image

// The recording toolbar's images.
namespace record_image {
inline constexpr int kStart = 0;
inline constexpr int kPause = 1;
inline constexpr int kStop = 2;
}  // namespace record_image

// Icon 128: the program, in every side of kProgramIconSides.
QIcon ProgramIcon();
// The sides the program icon is drawn in; the installed icon theme holds the
// same images.
inline constexpr std::array<int, 7> kProgramIconSides{16, 24, 32, 48, 64, 128, 256};
// The program icon drawn for a side × side square.
QImage ProgramIconImage(int side);
// Icon 133: the notification-area picture, 16 × 16.
QPixmap TrayIcon();
// Icon 141: the drop-down item that copies the screen to the clipboard, 32 × 32.
QPixmap ScreenshotCopyIcon();
// Icon 142: the drop-down item that saves the screen to a file, 32 × 32.
QPixmap ScreenshotSaveIcon();
// A main-toolbar image (kToolbarImageSize, also at twice the resolution). An
// index without a picture of its own gets a neutral blank key.
QIcon ToolbarIcon(int imageIndex);
// A recording-toolbar image (kRecordBarImageSize, also at twice the
// resolution): start, pause, stop. Other indexes give a null icon.
QIcon RecordBarIcon(int index);
// The icon resource with this number (128, 133, 141, 142), or a null icon.
QIcon IconForResource(int id);

}  // namespace velarix
