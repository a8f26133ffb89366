// Numeric command identifiers. A command's menu text and its status-bar prompt
// share its number; toolbar buttons and menu items that run the same command
// carry the same identifier.
#pragma once

namespace velarix::cmd {

// Window-system standard commands.
inline constexpr int kEditCopy = 57634;   // "Copy from Px00 clipboard\tCtrl-C"
inline constexpr int kEditPaste = 57637;  // "Paste\tCtrl-V"
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;

// Phone keys and the task list.
inline constexpr int kTaskList = 32773;
inline constexpr int kKeyAbc = 32772;
inline constexpr int kKeyClear = 32783;
inline constexpr int kKeyStar = 32784;
inline constexpr int kKeyHash = 32836;
inline constexpr int kKeyOnOff = 32839;

inline constexpr int kSetup = 32782;
inline constexpr int kDisconnect = 32786;
inline constexpr int kOpenFromTray = 32795;
inline constexpr int kCopyScreenshot = 32800;
inline constexpr int kSaveScreenshot = 32806;
inline constexpr int kChooseCopyScreenshot = 32807;
inline constexpr int kChooseSaveScreenshot = 32808;
inline constexpr int kSimulateKeys = 32813;
inline constexpr int kRecordBar = 32818;
inline constexpr int kStartRecording = 32822;
inline constexpr int kPauseRecording = 32823;
inline constexpr int kStopRecording = 32824;
inline constexpr int kConnect = 32841;
inline constexpr int kEventIncomingCall = 32846;
inline constexpr int kEventIncomingSms = 32847;
inline constexpr int kEventIgnoreAll = 32848;
inline constexpr int kEventIncomingMms = 32849;
inline constexpr int kStayInTray = 32850;
inline constexpr int kTrayConnect = 32852;
inline constexpr int kTrayDisconnect = 32853;
inline constexpr int kAlwaysOnTop = 32854;
inline constexpr int kHideFrame = 32859;

// Commands of the Options, View and Edit menus.
inline constexpr int kPasteToPhoneClipboard = 32860;
inline constexpr int kZoom = 32861;
inline constexpr int kCompression1 = 32862;  // .. kCompression1 + 4 for levels 1..5
inline constexpr int kInterlaceOff = 32867;
inline constexpr int kInterlaceOn = 32868;
inline constexpr int kInterlaceAuto = 32869;
inline constexpr int kColor64K = 32870;
inline constexpr int kColor4096 = 32871;
inline constexpr int kColor256 = 32872;
inline constexpr int kGrey16 = 32873;
inline constexpr int kGrey4 = 32874;  // no menu item; status prompt only
inline constexpr int kJpeg70 = 32875;
inline constexpr int kJpeg50 = 32876;
inline constexpr int kJpeg30 = 32877;
inline constexpr int kJpeg10 = 32878;
inline constexpr int kPriorityLow = 32879;  // .. + 3 for priorities 0..3
inline constexpr int kRate40Hz = 32883;     // timerDiv 1
inline constexpr int kRate20Hz = 32884;     // 2
inline constexpr int kRate10Hz = 32885;     // 4
inline constexpr int kRate5Hz = 32886;      // 8
inline constexpr int kRate2Hz = 32887;      // 20
inline constexpr int kRate1Hz = 32888;      // 40

// Status-bar indicator pane showing the phone's status value.
inline constexpr int kIndicatorStatusValue = 101;

// Resource numbers of pictures and menus.
inline constexpr int kIconProgram = 128;
inline constexpr int kIconTray = 133;
inline constexpr int kMenuTray = 133;
inline constexpr int kIconScreenshotCopy = 141;
inline constexpr int kIconScreenshotSave = 142;

struct CommandState {
    bool enabled = true;
    bool checked = false;
};

}  // namespace velarix::cmd
