#include "CStatisticsDlg.h"

#include "CDataExchange.h"
#include "CDialogBuilder.h"
#include "DialogTemplates.h"
#include "Resources.h"

#include <QLabel>

CStatisticsDlg::CStatisticsDlg(QWidget* pParent)
    : CDialog(LoadDialogTemplate(IDD_STATISTICS), pParent) {}

void CStatisticsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROBLEM_NAME, m_ctlProblemName);
    DDX_Control(pDX, IDC_PROBLEM_LABEL, m_ctlProblemLabel);
    DDX_Text(pDX, IDC_DNS_FAILURES, m_strDnsFailures);
    DDX_Text(pDX, IDC_HTTP_FAILURES, m_strHttpFailures);
    DDX_Text(pDX, IDC_SUCCESSES, m_strSuccesses);
    DDX_Text(pDX, IDC_SOCKET_FAILURES, m_strSocketFailures);
    DDX_Text(pDX, IDC_PROBLEM_NAME, m_strProblemName);
}

BOOL CStatisticsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CDialogBuilder::SetLabel(this, IDC_SUCCESSES, "Number of successful Bumples:");
    CDialogBuilder::SetLabel(this, IDC_HTTP_FAILURES, "Number of HTTP failures:");
    CDialogBuilder::SetLabel(this, IDC_DNS_FAILURES, "Number of DNS failures:");
    CDialogBuilder::SetLabel(this, IDC_SOCKET_FAILURES, "Number of Socket failures:");
    CDialogBuilder::SetLabel(this, IDC_PROBLEM_NAME, "The last Bumple problem occurred with:");
    // A run without problems shows only the four counts.
    if (m_strProblemName.isEmpty()) {
        m_ctlProblemName->hide();
        m_ctlProblemLabel->hide();
    }
    return TRUE;
}
