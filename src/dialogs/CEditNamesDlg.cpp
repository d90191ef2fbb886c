#include "CEditNamesDlg.h"

#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CComboBox.h"
#include "CDataExchange.h"
#include "CDialogBuilder.h"
#include "CDragListBox.h"
#include "CFrameWnd.h"
#include "CProfileStore.h"
#include "DialogTemplates.h"
#include "Resources.h"
#include "SettingsTable.h"

#include <algorithm>

CEditNamesDlg::CEditNamesDlg(QWidget* pParent)
    : CDialog(LoadDialogTemplate(IDD_EDIT_NAMES), pParent) {}

void CEditNamesDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_NAME_LIST, m_listNames);
    DDX_LBString(pDX, IDC_NAME_LIST, m_strSelection);
}

bool CEditNamesDlg::OnCommand(int id) {
    switch (id) {
    case IDC_DELETE_SELECTION:
        OnDeleteSelection();
        return true;
    case IDC_RESTORE_DEFAULT:
        OnRestoreDefault();
        return true;
    default:
        return CDialog::OnCommand(id);
    }
}

BOOL CEditNamesDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CDialogBuilder::SetLabel(this, IDC_NAME_LIST,
                             "Click and Drag names if you wish to re-order them.");
    const CFrameWnd* pFrame = CFrameWnd::AfxGetMainWnd();
    if (const auto* pView =
            qobject_cast<const CBumpleView*>(pFrame != nullptr ? pFrame->GetActiveView() : nullptr))
        for (int i = 0; i < pView->m_comboName->GetCount(); ++i)
            m_listNames->AddString(pView->m_comboName->GetLBText(i));
    m_listNames->SetCurSel(m_listNames->FindStringExact(m_strSelection));
    return TRUE;
}

void CEditNamesDlg::OnDeleteSelection() {
    const int sel = m_listNames->GetCurSel();
    if (sel < 0)
        return;
    m_listNames->DeleteString(sel);
    m_listNames->SetCurSel(-1);
}

void CEditNamesDlg::OnRestoreDefault() {
    m_listNames->ResetContent();
    for (const QString& name : SettingsTable::kDefaultNames)
        m_listNames->AddString(name);
    m_listNames->SetCurSel(-1);
}

void CEditNamesDlg::OnOK() {
    QStringList names;
    for (int i = 0; i < m_listNames->GetCount(); ++i)
        names.append(m_listNames->GetText(i));
    // The name that was current when the dialog opened is followed, not the clicked one.
    const int followed = std::max(m_listNames->FindStringExact(m_strSelection), 0);
    m_listNames->SetCurSel(followed);
    CBumpleApp::Instance()->m_pProfileStore->WriteNameList(names, followed);
    CDialog::OnOK();
}
