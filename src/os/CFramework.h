#pragma once

#include "WinTypes.h"

#include <QPoint>
#include <QSize>
#include <QString>

#include <ctime>
#include <functional>

class QObject;
struct MenuResource;

// Message box icons, as the MB_ICON flags.
enum class MessageIcon { Exclamation, Stop, Information };

// What the program takes from the application framework and the window system beneath it.
class CFramework {
public:
    virtual ~CFramework() = default;

    // Modal to the main window, caption the application's name, OK only; returns IDOK.
    virtual int MessageBox(const QString& text, MessageIcon icon = MessageIcon::Exclamation) = 0;
    // Closes the open message box that shows text, as its OK button does; false when none.
    virtual bool EndMessageBox(const QString& text) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual void MessageBeep() = 0;

    virtual DWORD GetTickCount() = 0; // wraps modulo 2^32
    virtual std::time_t Time() = 0;
    virtual QString LocalTimeText() = 0; // "%H:%M:%S"
    virtual void Srand(unsigned int seed) = 0;
    virtual int Rand() = 0;
    virtual void Sleep(DWORD ms) = 0;

    // Window timers: WM_TIMER with the id as wParam is sent to the window every ms
    // milliseconds; setting a running id replaces it.
    virtual void SetTimer(QObject* pWnd, UINT id, UINT ms) = 0;
    virtual void KillTimer(QObject* pWnd, UINT id) = 0;

    virtual QSize ScreenSize() = 0;
    virtual QPoint GetCursorPos() = 0;
    virtual void SetForegroundWindow(QObject* pWnd) = 0;
    // A launcher's token (Wayland's XDG activation token, or an X11 startup id) that lets the
    // next SetForegroundWindow take the focus; empty for none.
    virtual void SetActivationToken(const QByteArray& token) = 0;
    // Shows the popup at pt and returns when it closes; the chosen item's command is
    // posted to pWnd as WM_COMMAND. defaultItem is drawn bold (-1: none).
    virtual void TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                                QObject* pWnd) = 0;
    // The shell's "open" verb. It returns at once; the opener reports back later, from the
    // event loop, through done: false for a result of 32 or less.
    virtual void ShellExecuteOpen(const QString& target, std::function<void(bool)> done) = 0;
    // Brings the open modal dialog or message box to the front; false when none is open.
    virtual bool ActivateModalWindow() = 0;
};
