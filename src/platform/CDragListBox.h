#pragma once

#include <QListWidget>

// A single-selection list box whose items are reordered by dragging one onto another place.
class CDragListBox : public QListWidget {
    Q_OBJECT
public:
    explicit CDragListBox(QWidget* pParent = nullptr);

    void ResetContent() { clear(); }
    int AddString(const QString& text);
    int GetCount() const { return count(); }
    QString GetText(int index) const;
    int DeleteString(int index); // returns the remaining count, or -1
    int GetCurSel() const;
    int SetCurSel(int index); // -1 selects nothing
    // First item from the top whose whole text equals text, letter case ignored; -1 if none.
    int FindStringExact(const QString& text) const;
};
