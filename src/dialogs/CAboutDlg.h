#pragma once

#include "CDialog.h"
#include "CStaticLink.h"

#include <QString>

// The version, the current address, the time since launch and the author's two links.
class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

    BOOL OnInitDialog() override;

    // The time between two tick counts as the box shows it: "%d seconds" below two
    // minutes, else "%d minutes"; the difference wraps modulo 2^32.
    static QString UptimeText(DWORD dwNowTicks, DWORD dwLaunchTicks);

    CStaticLink m_linkEmail;
    CStaticLink m_linkWeb;
    QString m_strAddress;
    QString m_strUptime;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
