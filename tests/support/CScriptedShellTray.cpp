#include "CScriptedShellTray.h"

#include <cstring>

BOOL CScriptedShellTray::Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) {
    m_calls.push_back({dwMessage, nid});
    if (!m_bResult)
        return FALSE;
    if (dwMessage == NIM_DELETE) {
        m_bShown = false;
        return TRUE;
    }
    if (dwMessage == NIM_ADD)
        m_bShown = true;
    if ((nid.uFlags & NIF_TIP) != 0)
        m_strTip = QString::fromUtf8(nid.szTip, int(strnlen(nid.szTip, sizeof nid.szTip)));
    if ((nid.uFlags & NIF_ICON) != 0)
        m_hIcon = nid.hIcon;
    return TRUE;
}
