#include "CDataExchange.h"

#include "CDialogBuilder.h"
#include "CDragListBox.h"
#include "CEdit.h"

#include <QCheckBox>
#include <QLabel>

QWidget* CDataExchange::Control(int id) const {
    return CDialogBuilder::GetDlgItem(m_pDlgWnd, id);
}

void DDX_Check(CDataExchange* pDX, int id, BOOL& value) {
    auto* pCheck = qobject_cast<QCheckBox*>(pDX->Control(id));
    if (pCheck == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = pCheck->isChecked() ? TRUE : FALSE;
    else
        pCheck->setChecked(value != FALSE);
}

void DDX_Text(CDataExchange* pDX, int id, QString& value) {
    QWidget* pControl = pDX->Control(id);
    if (auto* pEdit = qobject_cast<CEdit*>(pControl)) {
        if (pDX->m_bSaveAndValidate)
            value = pEdit->GetWindowText();
        else
            pEdit->SetWindowText(value);
    } else if (auto* pLabel = qobject_cast<QLabel*>(pControl)) {
        if (pDX->m_bSaveAndValidate)
            value = pLabel->text();
        else
            pLabel->setText(value);
    }
}

void DDX_LBString(CDataExchange* pDX, int id, QString& value) {
    auto* pList = qobject_cast<CDragListBox*>(pDX->Control(id));
    if (pList == nullptr)
        return;
    if (pDX->m_bSaveAndValidate) {
        const int sel = pList->GetCurSel();
        value = sel >= 0 ? pList->GetText(sel) : QString();
    } else {
        pList->SetCurSel(pList->FindStringExact(value));
    }
}
