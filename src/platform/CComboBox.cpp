#include "CComboBox.h"

#include <QLineEdit>

CComboBox::CComboBox(QWidget* pParent) : QComboBox(pParent) {
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(8);
    connect(this, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { m_nCurSel = index; });
}

void CComboBox::CreateEditField() {
    if (isEditable())
        return;
    setEditable(true);
    setCompleter(nullptr);
    setEditText(m_strText);
    m_strText.clear();
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_nCurSel = -1; });
}

QString CComboBox::GetWindowText() const {
    return isEditable() ? currentText() : m_strText;
}

void CComboBox::ResetContent() {
    clear();
    m_nCurSel = -1;
    SetWindowText(QString());
}

int CComboBox::AddString(const QString& text) {
    const QString edit = GetWindowText();
    addItem(text);
    // Adding never changes what the edit field shows.
    if (m_nCurSel < 0)
        SetWindowText(edit);
    return count() - 1;
}

int CComboBox::SetCurSel(int index) {
    if (index < 0 || index >= count()) {
        m_nCurSel = -1;
        setCurrentIndex(-1);
        SetWindowText(QString());
        return -1;
    }
    m_nCurSel = index;
    setCurrentIndex(index);
    SetWindowText(itemText(index));
    return index;
}

int CComboBox::FindStringExact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void CComboBox::SetWindowText(const QString& text) {
    if (isEditable())
        setEditText(text);
    else
        m_strText = text;
}
