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
    // Under a desktop's icon theme the icons are looked up by their names, so the theme may
    // restyle them; the built-in images stand in for any the theme lacks. Without one (Qt's
    // fallback "hicolor") the lookup could only find the images installed from these same
    // files, and reading hicolor's index and folders would be half the work of a start-up.
    static const std::map<int, const char*> themeNames = {
        {IDI_NORMAL, "bumple"}, {IDI_STOPPED, "bumple-stopped"}, {IDI_WAITING, "bumple-waiting"}};
    static const bool bThemed =
        !QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor");
    static std::map<int, QIcon> icons;
    const auto name = themeNames.find(id);
    if (name == themeNames.end())
        return nullptr;
    auto it = icons.find(id);
    if (it == icons.end()) {
        QIcon builtIn(QStringLiteral(":/icons/%1.svg").arg(id));
        it = icons
                 .emplace(id, bThemed ? QIcon::fromTheme(QString::fromLatin1(name->second), builtIn)
                                      : builtIn)
                 .first;
    }
    return &it->second;
}
