#pragma once

#include <QListWidget>

// A single-selection list box whose items are reordered by dragging one onto another place.
// The list follows the pressed mouse itself, as the window system's drag list does, rather
// than starting a drag-and-drop operation: the move never leaves the list, and it works the
// same on every platform plugin. Ctrl+Shift+Up and Ctrl+Shift+Down move the selected item
// by one place.
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

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    // The gap before item n (count: after the last) nearest to a viewport point.
    int InsertionGap(const QPoint& point) const;
    void EndDrag();

    int m_nDragItem = -1; // the pressed item, -1 while the button is up
    QPoint m_ptPress;
    bool m_bDragging = false;
    int m_nGap = -1;
};
