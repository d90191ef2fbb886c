#pragma once

#include "CShellTray.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSystemTrayIcon>

#include <map>
#include <memory>
#include <optional>
#include <utility>

class QDBusPendingCallWatcher;
class QMenu;

// The notification area on QSystemTrayIcon, on whichever the desktop offers.
// XEmbed: a right-button release arrives as WM_RBUTTONUP, a left double click as
// WM_LBUTTONDBLCLK, a left press as WM_LBUTTONUP. StatusNotifierItem: the host draws the
// icon's popup menu (the menu resource with the icon's id), exported over D-Bus, and its
// items come back as WM_COMMAND; Activate, the host's primary click, is WM_LBUTTONDBLCLK.
// An icon added before any tray exists waits for one; when none has come by the end of
// the grace, the owner is told with NIN_TRAYMISSING, and the icon still waits; when it finds
// a tray at last, the owner is told with NIN_TRAYFOUND. The desktop is asked without
// blocking: the StatusNotifierWatcher by an asynchronous D-Bus call.
class CQtShellTray : public QObject, public CShellTray {
    Q_OBJECT
public:
    CQtShellTray();
    ~CQtShellTray() override;

    BOOL Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) override;
    BOOL IsIconShown(const NOTIFYICONDATA& nid) override;
    BOOL ShowBalloon(const NOTIFYICONDATA& nid, const QString& strTitle,
                     const QString& strText) override;

    // How long after the first icon is added a tray may still come before the owner is
    // told: panels come up well after autostarted programs on slow logins.
    // BUMPLE_TRAY_GRACE (seconds) overrides it.
    static int GraceMs();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    enum class TrayKind { None, XEmbed, StatusNotifier };
    using Key = std::pair<QObject*, UINT>;
    struct Icon {
        NOTIFYICONDATA nid;
        std::unique_ptr<QMenu> pMenu;
        std::unique_ptr<QSystemTrayIcon> pTrayIcon;
        bool bMissingTold = false;
    };

    // Asks the desktop for a tray unless a question is under way; OnLooked gets the answer.
    void LookForTray();
    void OnLooked(bool statusNotifierHost);
    void PutInTray(const Key& key, Icon& icon);
    void OnActivated(const Key& key, QSystemTrayIcon::ActivationReason reason);
    void Notify(const Key& key, UINT mouseMessage);
    void WaitForTray();

    std::map<Key, Icon> m_icons;
    // Qt settles the kind of tray for the whole process when it makes the first icon, so no
    // icon is made before a tray exists.
    TrayKind m_kind = TrayKind::None;
    QElapsedTimer m_sinceFirstAdd;
    int m_nWaitTimer = 0;
    QDBusPendingCallWatcher* m_pLook = nullptr;
    bool m_bGraceOver = false;
    std::optional<Key> m_rightPressed;
};
