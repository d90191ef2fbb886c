#include "CAboutDlg.h"

#include "CBumpleApp.h"
#include "CDataExchange.h"
#include "DialogTemplates.h"
#include "Resources.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : CDialog(LoadDialogTemplate(IDD_ABOUTBOX), pParent) {}

QString CAboutDlg::UptimeText(DWORD dwNowTicks, DWORD dwLaunchTicks) {
    const DWORD seconds = DWORD(dwNowTicks - dwLaunchTicks) / 1000;
    if (seconds < 120)
        return QStringLiteral("%1 seconds").arg(seconds);
    return QStringLiteral("%1 minutes").arg(seconds / 60);
}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_ADDRESS, m_strAddress);
    DDX_Text(pDX, IDC_UPTIME, m_strUptime);
}

BOOL CAboutDlg::OnInitDialog() {
    m_linkEmail.SubclassDlgItem(IDC_EMAIL_LINK, this);
    m_linkWeb.SubclassDlgItem(IDC_WEB_LINK, this);
    // The flags live in the application, so a followed link stays purple at the next opening.
    if (CBumpleApp* pApp = CBumpleApp::Instance()) {
        m_linkEmail.m_pVisited = &pApp->m_bEmailLinkVisited;
        m_linkWeb.m_pVisited = &pApp->m_bWebLinkVisited;
    }
    return CDialog::OnInitDialog();
}
