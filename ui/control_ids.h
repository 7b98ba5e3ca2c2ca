// Control and command ids of the two dialogs, the ids of the built-in images, and the window
// messages the main window posts to itself. A control's id is kept on the widget, so that the
// commands and anyone inspecting the windows find it the same way.
#pragma once

#include <QEvent>
#include <QList>
#include <QPixmap>

class QWidget;

namespace tavix {

// Login dialog: the four boxes (tab order address, port, user, password) and their labels.
constexpr int kIdPortBox = 1000;
constexpr int kIdUserBox = 1001;
constexpr int kIdPasswordBox = 1002;
constexpr int kIdAddressBox = 1003;
constexpr int kIdAddressLabel = 1004;
constexpr int kIdPortLabel = 1005;
constexpr int kIdUserLabel = 1006;
constexpr int kIdPasswordLabel = 1007;
constexpr int kIdPasswordNote = 1008;  // "the password is kept in a file", shown once
// Login dialog soft keys.
constexpr int kCommandLogin = 32771;
constexpr int kCommandExit = 32772;

// Main window.
constexpr int kIdChannelTree = 1009;
constexpr int kIdVideoWindow = 1011;
constexpr int kIdLogin = 1124;
constexpr int kIdCamera = 1125;
constexpr int kIdFull = 1126;
constexpr int kIdAbout = 1127;
constexpr int kIdExit = 1128;  // both EXIT keys
constexpr int kIdArrowA = 1129;
constexpr int kIdArrowB = 1130;
constexpr int kIdLensPlus = 1131;
constexpr int kIdLensMinus = 1132;
constexpr int kIdPanMode = 1133;
constexpr int kIdLensMode = 1134;
constexpr int kIdStatusLabel = 1135;
constexpr int kIdBack = 1136;
// Desktop: the layout keys, 1, 2x2, 3x3 and 4x4 tiles.
constexpr int kIdLayout1 = 1137;
constexpr int kIdLayout4 = 1138;
constexpr int kIdLayout9 = 1139;
constexpr int kIdLayout16 = 1140;
constexpr int kIdSnapshot = 1141;  // desktop: saves the selected tile's picture

// Built-in images (normal / pressed where there are two).
constexpr int kIconApplication = 128;
constexpr int kImageSoftKey = 132;
constexpr int kImageSoftKeyPressed = 133;
constexpr int kImageHeader = 134;
constexpr int kImageModeKey = 136;
constexpr int kImageLensMinusPressed = 137;
constexpr int kImageLensPlusPressed = 138;
constexpr int kImageArrowAPressed = 139;
constexpr int kImageArrowBPressed = 140;
constexpr int kImageModeKeyPressed = 141;
constexpr int kImageLensMinus = 142;
constexpr int kImageArrowB = 143;  // a triangle pointing right
constexpr int kImageArrowA = 144;  // a triangle pointing left
constexpr int kImageLensPlus = 145;
constexpr int kIconChannel = 146;
constexpr int kIconDevice = 147;
constexpr int kIconChannelPlaying = 148;

// Posted by the main window's device events to itself (see DeviceEvent).
constexpr QEvent::Type WM_DEVICE_DISCONNECTED = static_cast<QEvent::Type>(0x4C8);
constexpr QEvent::Type WM_LOGIN_RESULT = static_cast<QEvent::Type>(0x4C9);
constexpr QEvent::Type WM_STREAM_RESULT = static_cast<QEvent::Type>(0x4CA);
constexpr QEvent::Type WM_RECONNECTING = static_cast<QEvent::Type>(0x4CB);
constexpr QEvent::Type WM_RECONNECTED = static_cast<QEvent::Type>(0x4CC);

// A window message with its two values.
class DeviceEvent : public QEvent {
  public:
    DeviceEvent(QEvent::Type type, int wParam, int lParam)
        : QEvent(type), wParam(wParam), lParam(lParam) {}
    const int wParam;
    const int lParam;
};

// Tags `widget` with its control id.
void SetControlId(QWidget* widget, int id);
// The control id of `widget`, or 0 when it has none.
int ControlId(const QWidget* widget);
// Every descendant of `parent` with control id `id`, in creation order.
QList<QWidget*> FindControls(const QWidget* parent, int id);
// The first of them, or null.
QWidget* FindControl(const QWidget* parent, int id);

// The built-in image `id` (a null pixmap when there is none).
QPixmap LoadImage(int id);

}  // namespace tavix
