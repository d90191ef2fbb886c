#include "CComboBox.h"

#include <QLineEdit>

CComboBox::CComboBox(QWidget* pParent) : QComboBox(pParent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setMaxVisibleItems(8);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_nCurSel = -1; });
    connect(this, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { m_nCurSel = index; });
}

void CComboBox::ResetContent() {
    clear();
    m_nCurSel = -1;
    setEditText(QString());
}

int CComboBox::AddString(const QString& text) {
    const QString edit = currentText();
    addItem(text);
    // Adding never changes what the edit field shows.
    if (m_nCurSel < 0)
        setEditText(edit);
    return count() - 1;
}

int CComboBox::SetCurSel(int index) {
    if (index < 0 || index >= count()) {
        m_nCurSel = -1;
        setCurrentIndex(-1);
        setEditText(QString());
        return -1;
    }
    m_nCurSel = index;
    setCurrentIndex(index);
    setEditText(itemText(index));
    return index;
}

int CComboBox::FindStringExact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void CComboBox::SetWindowText(const QString& text) {
    setEditText(text);
}
