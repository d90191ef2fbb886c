#pragma once

#include "CShellTray.h"

#include <QObject>

#include <map>
#include <memory>
#include <utility>

class QSystemTrayIcon;

// The notification area on QSystemTrayIcon (StatusNotifierItem or XEmbed, whichever the
// desktop offers). A right click arrives as WM_RBUTTONUP, a left double click as
// WM_LBUTTONDBLCLK and a single left click as WM_LBUTTONUP.
class CQtShellTray : public QObject, public CShellTray {
    Q_OBJECT
public:
    CQtShellTray();
    ~CQtShellTray() override;

    BOOL Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) override;

private:
    void Apply(QSystemTrayIcon& icon, const NOTIFYICONDATA& nid);

    std::map<std::pair<QObject*, UINT>, std::unique_ptr<QSystemTrayIcon>> m_icons;
};
