#pragma once

#include "CShellTray.h"

class QString;

// Desktop notifications on behalf of a tray icon: each replaces the one before it.
class CNotifier {
public:
    virtual ~CNotifier() = default;
    // Shows strTitle and strText without waiting for the desktop. Taking the notification's
    // default action posts WM_COMMAND nCommand to nid.hWnd. Without a notification service
    // the text goes to the balloon of the tray icon nid.
    virtual void Notify(const NOTIFYICONDATA& nid, UINT nCommand, const QString& strTitle,
                        const QString& strText) = 0;
};
