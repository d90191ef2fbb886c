#pragma once

#include "CShellTray.h"

#include <QString>

#include <vector>

// A notification area that records every call and accepts or refuses it as told.
class CScriptedShellTray : public CShellTray {
public:
    BOOL Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) override;
    BOOL IsIconShown(const NOTIFYICONDATA&) override { return m_bShown; }

    struct Call {
        DWORD dwMessage;
        NOTIFYICONDATA nid;
    };
    std::vector<Call> m_calls;
    BOOL m_bResult = TRUE;

    // The icon as the shell shows it now.
    bool m_bShown = false;
    QString m_strTip;
    HICON m_hIcon = nullptr;
};
