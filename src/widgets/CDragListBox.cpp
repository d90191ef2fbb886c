#include "CDragListBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

CDragListBox::CDragListBox(QWidget* pParent) : QListWidget(pParent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::NoDragDrop);
}

int CDragListBox::AddString(const QString& text) {
    addItem(text);
    return count() - 1;
}

QString CDragListBox::GetText(int index) const {
    const QListWidgetItem* pItem = item(index);
    return pItem != nullptr ? pItem->text() : QString();
}

int CDragListBox::DeleteString(int index) {
    if (index < 0 || index >= count())
        return -1;
    delete takeItem(index);
    return count();
}

int CDragListBox::GetCurSel() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

int CDragListBox::SetCurSel(int index) {
    clearSelection();
    if (index < 0 || index >= count()) {
        setCurrentRow(-1);
        return -1;
    }
    setCurrentRow(index);
    item(index)->setSelected(true);
    return index;
}

int CDragListBox::FindStringExact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void CDragListBox::mousePressEvent(QMouseEvent* pEvent) {
    QListWidget::mousePressEvent(pEvent);
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_ptPress = pEvent->position().toPoint();
    m_nDragItem = indexAt(m_ptPress).row();
}

void CDragListBox::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint point = pEvent->position().toPoint();
    if (m_nDragItem < 0 || (pEvent->buttons() & Qt::LeftButton) == 0) {
        QListWidget::mouseMoveEvent(pEvent);
        return;
    }
    if (!m_bDragging && (point - m_ptPress).manhattanLength() < QApplication::startDragDistance()) {
        QListWidget::mouseMoveEvent(pEvent);
        return;
    }
    m_bDragging = true;
    // Above or below the list it scrolls, one item per move.
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    m_nGap = InsertionGap(point);
    viewport()->update();
}

void CDragListBox::mouseReleaseEvent(QMouseEvent* pEvent) {
    const bool bDrop = m_bDragging && pEvent->button() == Qt::LeftButton &&
                       viewport()->rect().contains(pEvent->position().toPoint());
    const int from = m_nDragItem;
    const int gap = InsertionGap(pEvent->position().toPoint());
    QListWidget::mouseReleaseEvent(pEvent);
    if (pEvent->button() != Qt::LeftButton)
        return;
    EndDrag();
    // Dropping an item into the gap on either side of itself leaves the order as it is.
    if (!bDrop || gap == from || gap == from + 1)
        return;
    const int to = gap > from ? gap - 1 : gap;
    insertItem(to, takeItem(from));
    SetCurSel(to);
}

void CDragListBox::keyPressEvent(QKeyEvent* pEvent) {
    if (m_bDragging && pEvent->key() == Qt::Key_Escape) {
        EndDrag();
        return;
    }
    // Ctrl+Shift+Up and Down move the selected item by one place, as in KDE's editors.
    const int from = GetCurSel();
    const int step = pEvent->key() == Qt::Key_Up ? -1 : pEvent->key() == Qt::Key_Down ? 1 : 0;
    if (step != 0 && pEvent->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
        if (!m_bDragging && from >= 0 && from + step >= 0 && from + step < count()) {
            insertItem(from + step, takeItem(from));
            SetCurSel(from + step);
        }
        return;
    }
    QListWidget::keyPressEvent(pEvent);
}

void CDragListBox::paintEvent(QPaintEvent* pEvent) {
    QListWidget::paintEvent(pEvent);
    if (!m_bDragging || m_nGap < 0 || count() == 0)
        return;
    const int y = m_nGap < count() ? visualItemRect(item(m_nGap)).top()
                                   : visualItemRect(item(count() - 1)).bottom() + 1;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Text), 2));
    painter.drawLine(0, y, viewport()->width(), y);
}

int CDragListBox::InsertionGap(const QPoint& point) const {
    const int y = std::clamp(point.y(), 0, std::max(viewport()->height() - 1, 0));
    const QModelIndex index = indexAt(QPoint(viewport()->width() / 2, y));
    if (!index.isValid())
        return count();
    return index.row() + (point.y() >= visualRect(index).center().y() ? 1 : 0);
}

void CDragListBox::EndDrag() {
    m_nDragItem = -1;
    m_bDragging = false;
    m_nGap = -1;
    viewport()->update();
}
