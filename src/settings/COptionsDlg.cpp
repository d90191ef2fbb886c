#include "COptionsDlg.h"

#include "CDataExchange.h"
#include "DialogTemplates.h"
#include "Resources.h"

COptionsDlg::COptionsDlg(QWidget* pParent) : CDialog(LoadDialogTemplate(IDD_OPTIONS), pParent) {}

void COptionsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_AUTO_START, m_bAutoStart);
    DDX_Check(pDX, IDC_RANDOM_NAME, m_bRandomName);
    DDX_Check(pDX, IDC_RANDOM_TIME, m_bRandomTime);
    DDX_Check(pDX, IDC_IGNORE_FAILURES, m_bIgnoreFailures);
    DDX_Check(pDX, IDC_IDLE_ONLY, m_bIdleOnly);
    DDX_Check(pDX, IDC_NOTIFY, m_bNotify);
}
