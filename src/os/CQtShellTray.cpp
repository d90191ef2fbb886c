#include "CQtShellTray.h"

#include "CMenu.h"
#include "CPlatform.h"
#include "CWindowMessage.h"
#include "CX11Display.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

#include <cstring>

namespace {

constexpr int kDefaultGraceMs = 30000;
constexpr int kLookDuringGraceMs = 500;
constexpr int kLookAfterGraceMs = 2000;
constexpr int kDBusTimeoutMs = 1000;

void Apply(QSystemTrayIcon& trayIcon, const NOTIFYICONDATA& nid, UINT uFlags) {
    if ((uFlags & NIF_ICON) != 0 && nid.hIcon != nullptr)
        trayIcon.setIcon(*nid.hIcon);
    if ((uFlags & NIF_TIP) != 0)
        trayIcon.setToolTip(
            QString::fromUtf8(nid.szTip, qsizetype(strnlen(nid.szTip, sizeof nid.szTip))));
}

} // namespace

CQtShellTray::CQtShellTray() = default;

CQtShellTray::~CQtShellTray() = default;

int CQtShellTray::GraceMs() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("BUMPLE_TRAY_GRACE", &ok);
    return ok && seconds >= 0 ? seconds * 1000 : kDefaultGraceMs;
}

// A StatusNotifierWatcher with a host registered wins, the same test Qt makes when it
// chooses between StatusNotifierItem and XEmbed.
void CQtShellTray::LookForTray() {
    if (m_pLook != nullptr)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OnLooked(false);
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierWatcher")
        << QStringLiteral("IsStatusNotifierHostRegistered");
    m_pLook = new QDBusPendingCallWatcher(bus.asyncCall(get, kDBusTimeoutMs), this);
    connect(
        m_pLook, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* pLook) {
            const QDBusMessage reply = pLook->reply();
            pLook->deleteLater();
            m_pLook = nullptr;
            OnLooked(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                     reply.arguments().constFirst().value<QDBusVariant>().variant().toBool());
        });
}

void CQtShellTray::OnLooked(bool statusNotifierHost) {
    // Qt settles the kind for good with the first icon: an answer then changes nothing.
    if (m_kind != TrayKind::None)
        return;
    m_kind = statusNotifierHost               ? TrayKind::StatusNotifier
             : CX11Display::SystemTrayOwned() ? TrayKind::XEmbed
                                              : TrayKind::None;
    if (m_kind != TrayKind::None) {
        if (m_nWaitTimer != 0)
            killTimer(m_nWaitTimer);
        m_nWaitTimer = 0;
        for (auto& [key, icon] : m_icons) {
            PutInTray(key, icon);
            if (icon.bMissingTold)
                Notify(key, NIN_TRAYFOUND);
        }
        return;
    }
    if (m_icons.empty())
        return;
    if (!m_bGraceOver && m_sinceFirstAdd.hasExpired(GraceMs())) {
        // From now on the desktop is looked at less often.
        m_bGraceOver = true;
        killTimer(m_nWaitTimer);
        m_nWaitTimer = 0;
        WaitForTray();
    }
}

BOOL CQtShellTray::Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) {
    const Key key(nid.hWnd, nid.uID);
    const auto it = m_icons.find(key);
    switch (dwMessage) {
    case NIM_ADD: {
        if (it != m_icons.end())
            return FALSE;
        Icon& icon = m_icons[key];
        icon.nid = nid;
        if (m_kind != TrayKind::None) {
            PutInTray(key, icon);
        } else {
            WaitForTray();
            LookForTray();
        }
        return TRUE;
    }
    case NIM_MODIFY: {
        if (it == m_icons.end())
            return FALSE;
        NOTIFYICONDATA& kept = it->second.nid;
        if ((nid.uFlags & NIF_ICON) != 0)
            kept.hIcon = nid.hIcon;
        if ((nid.uFlags & NIF_TIP) != 0)
            std::memcpy(kept.szTip, nid.szTip, sizeof kept.szTip);
        if ((nid.uFlags & NIF_MESSAGE) != 0)
            kept.uCallbackMessage = nid.uCallbackMessage;
        if (it->second.pTrayIcon != nullptr)
            Apply(*it->second.pTrayIcon, kept, nid.uFlags);
        return TRUE;
    }
    case NIM_DELETE:
        if (it == m_icons.end())
            return FALSE;
        if (m_rightPressed == key)
            m_rightPressed.reset();
        m_icons.erase(it);
        // With no icon left there is nothing to wait for.
        if (m_icons.empty() && m_nWaitTimer != 0) {
            killTimer(m_nWaitTimer);
            m_nWaitTimer = 0;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CQtShellTray::IsIconShown(const NOTIFYICONDATA& nid) {
    const auto it = m_icons.find(Key(nid.hWnd, nid.uID));
    // Once an icon exists Qt has settled the kind of tray, and asking no longer changes it.
    return it != m_icons.end() && it->second.pTrayIcon != nullptr &&
           QSystemTrayIcon::isSystemTrayAvailable();
}

BOOL CQtShellTray::ShowBalloon(const NOTIFYICONDATA& nid, const QString& strTitle,
                               const QString& strText) {
    const auto it = m_icons.find(Key(nid.hWnd, nid.uID));
    if (it == m_icons.end() || it->second.pTrayIcon == nullptr)
        return FALSE;
    it->second.pTrayIcon->showMessage(strTitle, strText, it->second.pTrayIcon->icon());
    return TRUE;
}

void CQtShellTray::PutInTray(const Key& key, Icon& icon) {
    icon.pTrayIcon = std::make_unique<QSystemTrayIcon>();
    Apply(*icon.pTrayIcon, icon.nid, NIF_ICON | NIF_TIP);
    if (m_kind == TrayKind::StatusNotifier) {
        // The host draws the menu itself, so it is exported whole; its items come back as
        // the same commands as from the popup. (On XEmbed Qt would pop it up on the press.)
        const std::vector<MenuResource>* pMenu = CPlatform::LoadMenu(int(icon.nid.uID));
        if (pMenu != nullptr && !pMenu->empty()) {
            icon.pMenu = std::make_unique<QMenu>();
            CMenu::AppendMenuItems(*icon.pMenu, pMenu->front(), 0);
            connect(icon.pMenu.get(), &QMenu::triggered, this, [this, key](QAction* pAction) {
                const auto it = m_icons.find(key);
                if (it != m_icons.end())
                    PostMessage(it->second.nid.hWnd, WM_COMMAND, WPARAM(pAction->data().toInt()),
                                0);
            });
            icon.pTrayIcon->setContextMenu(icon.pMenu.get());
        }
    }
    if ((icon.nid.uFlags & NIF_MESSAGE) != 0)
        connect(
            icon.pTrayIcon.get(), &QSystemTrayIcon::activated, this,
            [this, key](QSystemTrayIcon::ActivationReason reason) { OnActivated(key, reason); });
    icon.pTrayIcon->show();
}

void CQtShellTray::OnActivated(const Key& key, QSystemTrayIcon::ActivationReason reason) {
    const bool statusNotifier = m_kind == TrayKind::StatusNotifier;
    switch (reason) {
    case QSystemTrayIcon::Context:
        if (statusNotifier) {
            // A host that calls ContextMenu draws no menu of its own.
            Notify(key, WM_RBUTTONUP);
        } else {
            // XEmbed reports the press; the menu waits for the release over the icon.
            m_rightPressed = key;
            qApp->installEventFilter(this);
        }
        break;
    case QSystemTrayIcon::DoubleClick:
        Notify(key, WM_LBUTTONDBLCLK);
        break;
    case QSystemTrayIcon::Trigger:
        // SNI has no double click: its primary click is the one that opens the window.
        Notify(key, statusNotifier ? WM_LBUTTONDBLCLK : WM_LBUTTONUP);
        break;
    default:
        break;
    }
}

bool CQtShellTray::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pEvent->type() != QEvent::MouseButtonRelease || !pWatched->isWidgetType())
        return false;
    const auto* pMouse = static_cast<QMouseEvent*>(pEvent);
    if (pMouse->button() != Qt::RightButton)
        return false;
    qApp->removeEventFilter(this);
    const std::optional<Key> key = std::exchange(m_rightPressed, std::nullopt);
    // The pressed icon keeps the pointer until the release, wherever that happens.
    if (key && static_cast<QWidget*>(pWatched)->rect().contains(pMouse->position().toPoint()))
        Notify(*key, WM_RBUTTONUP);
    return false;
}

void CQtShellTray::Notify(const Key& key, UINT mouseMessage) {
    const auto it = m_icons.find(key);
    if (it != m_icons.end())
        PostMessage(it->second.nid.hWnd, it->second.nid.uCallbackMessage, it->second.nid.uID,
                    LPARAM(mouseMessage));
}

void CQtShellTray::WaitForTray() {
    if (!m_sinceFirstAdd.isValid())
        m_sinceFirstAdd.start();
    if (m_nWaitTimer == 0)
        m_nWaitTimer = startTimer(m_bGraceOver ? kLookAfterGraceMs : kLookDuringGraceMs);
    // An icon added after the grace has nothing more to wait for.
    if (m_bGraceOver) {
        for (auto& [key, icon] : m_icons) {
            if (!icon.bMissingTold && (icon.nid.uFlags & NIF_MESSAGE) != 0) {
                icon.bMissingTold = true;
                Notify(key, NIN_TRAYMISSING);
            }
        }
    }
}

void CQtShellTray::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_nWaitTimer)
        LookForTray();
}
