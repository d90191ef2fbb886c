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

namespace {
const std::map<int, const char*> kIconNames = {
    {IDI_NORMAL, "bumple"}, {IDI_STOPPED, "bumple-stopped"}, {IDI_WAITING, "bumple-waiting"}};

std::map<int, QIcon>& Icons() {
    static std::map<int, QIcon> icons;
    return icons;
}
} // namespace

const QIcon* LoadIconResource(int id) {
    if (kIconNames.count(id) == 0)
        return nullptr;
    auto it = Icons().find(id);
    if (it == Icons().end())
        it = Icons().emplace(id, QIcon(QStringLiteral(":/icons/%1.svg").arg(id))).first;
    return &it->second;
}

bool LoadThemeIcons() {
    // Without a desktop's icon theme (Qt's fallback "hicolor") the lookup could only find the
    // images installed from these same files.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        return false;
    bool bFound = false;
    for (const auto& [id, name] : kIconNames) {
        const QString themeName = QString::fromLatin1(name);
        if (!QIcon::hasThemeIcon(themeName))
            continue;
        Icons()[id] = QIcon::fromTheme(themeName);
        bFound = true;
    }
    return bFound;
}
