#pragma once

#include "CShellTray.h"

#include <QString>
#include <QStringList>

#include <vector>

// A notification area that records every call and accepts or refuses it as told.
class CScriptedShellTray : public CShellTray {
public:
    BOOL Shell_NotifyIcon(DWORD dwMessage, const NOTIFYICONDATA& nid) override;
    BOOL IsIconShown(const NOTIFYICONDATA&) override { return m_bShown; }
    BOOL ShowBalloon(const NOTIFYICONDATA&, const QString& strTitle,
                     const QString& strText) override {
        m_balloons.append(strTitle + QLatin1Char('\n') + strText);
        return m_bShown;
    }

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
    QStringList m_balloons; // title and text of each, a line apart
};
