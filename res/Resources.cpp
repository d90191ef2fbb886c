#include "Resources.h"

#include <QIcon>

#include <map>

// The resources live in a static library, whose registration the linker would drop since
// nothing refers to it.
[[maybe_unused]] static const int g_nResourcesRegistered = [] {
    Q_INIT_RESOURCE(bumple);
    return 0;
}();

const std::vector<MenuResource>* LoadMenuResource(int id) {
    static const std::vector<MenuResource> menuBar = {
        {"&Bumple",
         {{ID_EDIT_NAMES, "&Edit Names..."},
          {ID_OPTIONS, "&Options..."},
          {ID_STATISTICS, "Statistics..."},
          {ID_HISTORY, "&History..."}}},
        {"&Help", {{ID_HELP_FINDER, "&Help Topics"}, {0, ""}, {ID_APP_ABOUT, "&About Bumple..."}}},
    };
    static const std::vector<MenuResource> trayMenu = {
        {"_POPUP_",
         {{ID_RESTORE, "&Restore"},
          {0, ""},
          {ID_APP_ABOUT, "&About Bumple..."},
          {0, ""},
          {ID_EXIT, "E&xit"}}},
    };
    switch (id) {
    case IDR_MAINFRAME:
        return &menuBar;
    case IDR_TRAY_MENU:
        return &trayMenu;
    default:
        return nullptr;
    }
}

const char* LoadStringResource(int id) {
    return id == IDS_APP_TITLE ? kAppTitle : nullptr;
}

const QIcon* LoadIconResource(int id) {
    // An installed program's icons are looked up by their names in the icon theme, so a
    // theme may restyle them; the built-in images stand in for any the theme lacks.
    static const std::map<int, const char*> themeNames = {
        {IDI_NORMAL, "bumple"}, {IDI_STOPPED, "bumple-stopped"}, {IDI_WAITING, "bumple-waiting"}};
    static std::map<int, QIcon> icons;
    const auto name = themeNames.find(id);
    if (name == themeNames.end())
        return nullptr;
    auto it = icons.find(id);
    if (it == icons.end())
        it = icons
                 .emplace(id, QIcon::fromTheme(QString::fromLatin1(name->second),
                                               QIcon(QStringLiteral(":/icons/%1.svg").arg(id))))
                 .first;
    return &it->second;
}
