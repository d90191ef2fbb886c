#pragma once

#include "WinTypes.h"

class QIcon;
class QObject;
class QString;

using HICON = const QIcon*;

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 1;
constexpr UINT NIF_ICON = 2;
constexpr UINT NIF_TIP = 4;

// The shell's notification record in its first form: 88 bytes on 32-bit Windows.
struct NOTIFYICONDATA {
    DWORD cbSize;
    QObject* hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    char szTip[64];
};

constexpr DWORD NOTIFYICONDATA_V1_SIZE = 88;

// Sent as the mouse message when no notification area has shown the icon within the grace
// after it was added. The icon stays wanted: a tray that comes later still shows it.
constexpr UINT NIN_TRAYMISSING = WM_USER + 0x20;
// Sent as the mouse message when a notification area shows an icon whose owner was told
// NIN_TRAYMISSING.
constexpr UINT NIN_TRAYFOUND = WM_USER + 0x21;

// The notification area: one call, as Shell_NotifyIconA. Mouse actions on an icon come
// back as uCallbackMessage posted to hWnd, wParam = icon id, lParam = mouse message.
class CShellTray {
public:
    virtual ~CShellTray() = default;
    virtual BOOL Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) = 0;
    // Whether a notification area shows the added icon now.
    virtual BOOL IsIconShown(const NOTIFYICONDATA& nid) = 0;
    // The icon's own balloon, for notifications when the desktop has no other place for them.
    virtual BOOL ShowBalloon(const NOTIFYICONDATA& nid, const QString& strTitle,
                             const QString& strText) = 0;
};
