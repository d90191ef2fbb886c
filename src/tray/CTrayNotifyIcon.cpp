#include "CTrayNotifyIcon.h"

#include "CFramework.h"
#include "CNotifier.h"
#include "CPlatform.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

namespace {

struct StandardIconEntry {
    UINT id;
    const char* name;
    QStyle::StandardPixmap pixmap;
};

constexpr StandardIconEntry kStandardIcons[] = {
    {IDI_APPLICATION, "IDI_APPLICATION", QStyle::SP_DesktopIcon},
    {IDI_HAND, "IDI_HAND", QStyle::SP_MessageBoxCritical},
    {IDI_QUESTION, "IDI_QUESTION", QStyle::SP_MessageBoxQuestion},
    {IDI_EXCLAMATION, "IDI_EXCLAMATION", QStyle::SP_MessageBoxWarning},
    {IDI_ASTERISK, "IDI_ASTERISK", QStyle::SP_MessageBoxInformation},
};

template <typename Match> const StandardIconEntry* FindStandardIcon(Match match) {
    const auto* pEnd = std::end(kStandardIcons);
    const auto* pEntry = std::find_if(std::begin(kStandardIcons), pEnd, match);
    return pEntry != pEnd ? pEntry : nullptr;
}

// The shell keeps only the handle, so each predefined icon lives as long as the process.
// Styles exist only in a widget application.
HICON LoadStandardIcon(const StandardIconEntry* pEntry) {
    if (pEntry == nullptr || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return nullptr;
    static std::map<UINT, QIcon> icons;
    auto it = icons.find(pEntry->id);
    if (it == icons.end())
        it = icons.emplace(pEntry->id, QApplication::style()->standardIcon(pEntry->pixmap)).first;
    return &it->second;
}

} // namespace

CTrayNotifyIcon::CTrayNotifyIcon() {
    std::memset(&m_nid, 0, sizeof m_nid);
}

CTrayNotifyIcon::~CTrayNotifyIcon() {
    RemoveIcon();
}

BOOL CTrayNotifyIcon::Create(QObject* pOwner, UINT uID, const QString& strTip, HICON hIcon,
                             UINT nNotifyMessage) {
    m_pOwner = pOwner;
    m_nid.cbSize = NOTIFYICONDATA_V1_SIZE;
    m_nid.hWnd = pOwner;
    m_nid.uID = uID;
    m_nid.uCallbackMessage = nNotifyMessage;
    m_nid.hIcon = hIcon;
    CopyTip(strTip);
    m_bAdded = Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    return m_bAdded;
}

// The record holds 63 bytes of UTF-8 and a NUL; a longer text loses its tail, never half a
// character.
void CTrayNotifyIcon::CopyTip(const QString& strTip) {
    const QByteArray bytes = strTip.toUtf8();
    qsizetype n = std::min<qsizetype>(bytes.size(), sizeof m_nid.szTip - 1);
    while (n > 0 && n < bytes.size() && (bytes[n] & 0xC0) == 0x80)
        --n;
    std::memset(m_nid.szTip, 0, sizeof m_nid.szTip);
    std::memcpy(m_nid.szTip, bytes.constData(), size_t(n));
}

BOOL CTrayNotifyIcon::Notify(DWORD dwMessage, UINT uFlags) {
    m_nid.uFlags = uFlags;
    return CPlatform::Tray().Shell_NotifyIcon(dwMessage, m_nid);
}

BOOL CTrayNotifyIcon::SetTooltipText(const QString& strTip) {
    if (!m_bAdded)
        return FALSE;
    CopyTip(strTip);
    return Notify(NIM_MODIFY, NIF_TIP);
}

BOOL CTrayNotifyIcon::SetTooltipText(UINT nStringId) {
    const char* pszText = LoadStringResource(int(nStringId));
    return pszText != nullptr ? SetTooltipText(QString::fromLatin1(pszText)) : FALSE;
}

QString CTrayNotifyIcon::GetTooltipText() const {
    if (!m_bAdded)
        return {};
    return QString::fromUtf8(m_nid.szTip, qsizetype(strnlen(m_nid.szTip, sizeof m_nid.szTip)));
}

BOOL CTrayNotifyIcon::SetIcon(HICON hIcon) {
    if (!m_bAdded)
        return FALSE;
    m_nid.hIcon = hIcon;
    return Notify(NIM_MODIFY, NIF_ICON);
}

BOOL CTrayNotifyIcon::SetIcon(UINT nIconResourceId) {
    const QIcon* pIcon = LoadIconResource(int(nIconResourceId));
    return pIcon != nullptr ? SetIcon(pIcon) : FALSE;
}

BOOL CTrayNotifyIcon::SetIcon(const QString& strResourceName) {
    bool bNumber = false;
    const UINT nId = strResourceName.startsWith(u'#') ? strResourceName.mid(1).toUInt(&bNumber) : 0;
    return bNumber ? SetIcon(nId) : FALSE;
}

BOOL CTrayNotifyIcon::SetStandardIcon(const QString& strIconName) {
    const HICON hIcon =
        LoadStandardIcon(FindStandardIcon([&strIconName](const StandardIconEntry& e) {
            return strIconName == QLatin1String(e.name);
        }));
    return hIcon != nullptr ? SetIcon(hIcon) : FALSE;
}

BOOL CTrayNotifyIcon::SetStandardIcon(UINT nIconId) {
    const HICON hIcon = LoadStandardIcon(
        FindStandardIcon([nIconId](const StandardIconEntry& e) { return e.id == nIconId; }));
    return hIcon != nullptr ? SetIcon(hIcon) : FALSE;
}

HICON CTrayNotifyIcon::GetIcon() const {
    return m_bAdded ? m_nid.hIcon : nullptr;
}

BOOL CTrayNotifyIcon::SetNotificationWnd(QObject* pOwner) {
    if (!m_bAdded)
        return FALSE;
    m_pOwner = pOwner;
    m_nid.hWnd = pOwner;
    return Notify(NIM_MODIFY, 0);
}

QObject* CTrayNotifyIcon::GetNotificationWnd() const {
    return m_pOwner;
}

void CTrayNotifyIcon::ShowNotification(UINT nCommand, const QString& strTitle,
                                       const QString& strText) {
    CPlatform::Notifier().Notify(m_nid, nCommand, strTitle, strText);
}

BOOL CTrayNotifyIcon::IsShown() const {
    return m_bAdded && !m_bHidden && CPlatform::Tray().IsIconShown(m_nid);
}

void CTrayNotifyIcon::HideIcon() {
    if (m_bHidden)
        return;
    Notify(NIM_DELETE, NIF_ICON);
    m_bHidden = TRUE;
}

void CTrayNotifyIcon::ShowIcon() {
    if (!m_bHidden)
        return;
    Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    m_bHidden = FALSE;
}

void CTrayNotifyIcon::RemoveIcon() {
    if (!m_bAdded)
        return;
    Notify(NIM_DELETE, 0);
    m_bAdded = FALSE;
}

LRESULT CTrayNotifyIcon::OnIconMessage(WPARAM wParam, LPARAM lParam) {
    if (wParam != WPARAM(m_nid.uID))
        return 0;
    // The menu is looked up afresh for every notification; nothing is cached here.
    const std::vector<MenuResource>* pMenu = LoadMenuResource(int(m_nid.uID));
    if (pMenu == nullptr || pMenu->empty())
        return 0;
    const MenuResource& popup = pMenu->front();
    if (lParam == LPARAM(WM_RBUTTONUP)) {
        CFramework& framework = CPlatform::Framework();
        const QPoint pt = framework.GetCursorPos();
        // Without the foreground the menu would not close when the user clicks elsewhere.
        framework.SetForegroundWindow(m_nid.hWnd);
        framework.TrackPopupMenu(popup, 0, pt, m_pOwner);
    } else if (lParam == LPARAM(WM_LBUTTONDBLCLK) && !popup.items.empty()) {
        SendMessage(m_pOwner, WM_COMMAND, WPARAM(popup.items.front().id), 0);
    }
    return 1;
}
