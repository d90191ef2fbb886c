#include "CDialog.h"

#include "CDataExchange.h"
#include "CDialogBuilder.h"
#include "CPlatform.h"
#include "DialogTemplate.h"

CDialog::CDialog(const DialogTemplate* pTemplate, QWidget* pParent)
    : QDialog(pParent != nullptr ? pParent : CPlatform::MainWindow()), m_pTemplate(pTemplate) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Only the owner is disabled while the dialog runs: the tray icon stays usable.
    setWindowModality(Qt::WindowModal);
}

void CDialog::Create() {
    if (m_bCreated)
        return;
    m_bCreated = true;
    if (m_pTemplate != nullptr) {
        setWindowTitle(QString::fromUtf8(m_pTemplate->caption));
        setFixedSize(CDialogBuilder::Build(this, *m_pTemplate, this));
    }
    OnInitDialog();
}

int CDialog::DoModal() {
    Create();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::EndDialog(int nResult) {
    done(nResult == IDOK ? QDialog::Accepted : QDialog::Rejected);
}

QWidget* CDialog::GetDlgItem(int id) const {
    return CDialogBuilder::GetDlgItem(this, id);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnCommand(int id) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND)
        return OnCommand(int(LOWORD(LPARAM(wParam)))) ? 1 : 0;
    return 0;
}

bool CDialog::event(QEvent* pEvent) {
    return DispatchMessage(pEvent) || QDialog::event(pEvent);
}

void CDialog::reject() {
    OnCancel();
}
