#include "CMenu.h"

#include <QMenu>

void CMenu::AppendMenuItems(QMenu& menu, const MenuResource& popup, int defaultItem) {
    for (int i = 0; i < int(popup.items.size()); ++i) {
        const MenuItemResource& item = popup.items[i];
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* pAction = menu.addAction(QString::fromLatin1(item.text));
        pAction->setData(item.id);
        if (i == defaultItem)
            menu.setDefaultAction(pAction);
    }
}
