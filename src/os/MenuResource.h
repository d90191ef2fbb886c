#pragma once

#include <vector>

// One item of a popup menu; id 0 is a separator.
struct MenuItemResource {
    int id;
    const char* text;
};

// One popup of a menu resource.
struct MenuResource {
    const char* title;
    std::vector<MenuItemResource> items;
};

// The popups of the menu with the given resource id; null for an unknown id.
using MenuLoader = const std::vector<MenuResource>* (*)(int id);
