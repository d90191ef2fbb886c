#pragma once

#include <QComboBox>

// A drop-down combo box with an edit field as the window system has it: items are kept in
// the order added, a typed text clears the selection, and nothing is added by typing. As with
// CEdit, the edit field is made only when the box is laid out; until then the box keeps the
// field's text itself.
class CComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBox(QWidget* pParent = nullptr);

    void ResetContent();
    int AddString(const QString& text); // returns the new index
    int GetCount() const { return count(); }
    int GetCurSel() const { return m_nCurSel; }
    // -1 selects nothing and empties the edit field; returns the index, or -1.
    int SetCurSel(int index);
    QString GetLBText(int index) const { return itemText(index); }
    // First item from the top whose whole text equals text, letter case ignored; -1 if none.
    int FindStringExact(const QString& text) const;
    QString GetWindowText() const;
    void SetWindowText(const QString& text);
    // Makes the edit field (once); the laying out calls it before the box is shown.
    void CreateEditField();

private:
    int m_nCurSel = -1;
    QString m_strText; // the edit field's text while there is no field
};
