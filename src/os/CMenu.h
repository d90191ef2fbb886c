#pragma once

#include "MenuResource.h"

class QMenu;

// A menu resource loaded into a Qt menu, as the popup, the menu bar and the tray host show it.
class CMenu {
public:
    // Appends the popup's items to the menu, each action carrying its command id as data;
    // the item at defaultItem is the default action (-1: none).
    static void AppendMenuItems(QMenu& menu, const MenuResource& popup, int defaultItem);
};
