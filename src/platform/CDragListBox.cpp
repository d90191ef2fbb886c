#include "CDragListBox.h"

CDragListBox::CDragListBox(QWidget* pParent) : QListWidget(pParent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(true);
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
