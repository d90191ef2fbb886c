#include "CQtShellTray.h"

#include "CWindowMessage.h"

#include <QIcon>
#include <QSystemTrayIcon>

#include <cstring>

CQtShellTray::CQtShellTray() = default;

CQtShellTray::~CQtShellTray() = default;

void CQtShellTray::Apply(QSystemTrayIcon& icon, const NOTIFYICONDATA& nid) {
    if ((nid.uFlags & NIF_ICON) != 0 && nid.hIcon != nullptr)
        icon.setIcon(*nid.hIcon);
    if ((nid.uFlags & NIF_TIP) != 0)
        icon.setToolTip(QString::fromUtf8(nid.szTip, int(strnlen(nid.szTip, sizeof nid.szTip))));
}

BOOL CQtShellTray::Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) {
    const auto key = std::make_pair(nid.hWnd, nid.uID);
    const auto it = m_icons.find(key);
    switch (dwMessage) {
    case NIM_ADD: {
        if (it != m_icons.end() || !QSystemTrayIcon::isSystemTrayAvailable())
            return FALSE;
        auto pIcon = std::make_unique<QSystemTrayIcon>();
        Apply(*pIcon, nid);
        if ((nid.uFlags & NIF_MESSAGE) != 0) {
            QObject* pWnd = nid.hWnd;
            const UINT id = nid.uID;
            const UINT message = nid.uCallbackMessage;
            connect(pIcon.get(), &QSystemTrayIcon::activated, pWnd,
                    [pWnd, id, message](QSystemTrayIcon::ActivationReason reason) {
                        UINT mouse = 0;
                        switch (reason) {
                        case QSystemTrayIcon::Context:
                            mouse = WM_RBUTTONUP;
                            break;
                        case QSystemTrayIcon::DoubleClick:
                            mouse = WM_LBUTTONDBLCLK;
                            break;
                        case QSystemTrayIcon::Trigger:
                            mouse = WM_LBUTTONUP;
                            break;
                        default:
                            return;
                        }
                        PostMessage(pWnd, message, id, LPARAM(mouse));
                    });
        }
        pIcon->show();
        m_icons.emplace(key, std::move(pIcon));
        return TRUE;
    }
    case NIM_MODIFY:
        if (it == m_icons.end())
            return FALSE;
        Apply(*it->second, nid);
        return TRUE;
    case NIM_DELETE:
        if (it == m_icons.end())
            return FALSE;
        m_icons.erase(it);
        return TRUE;
    default:
        return FALSE;
    }
}
